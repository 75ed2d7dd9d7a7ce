/*
 * sigkit_api_driver: a stream of raw float32 samples through one sigkit_ processing kind, block
 * by block, then flushed; the C side of the Python overhead benchmark and of the Python tests'
 * comparison with the C path.
 *
 *   sigkit_api_driver KIND RATE COMPLEX FREQUENCY THIRD QUALITY BLOCK IN.f32 OUT.f32|- [REPEATS]
 *
 * KIND by name ("resample", ...); COMPLEX 1 for I/Q pairs; THIRD the band (convert) or output
 * rate (the others), Hz; QUALITY 0..3; BLOCK input frames per call. Prints the fastest of
 * REPEATS runs (default 1) in seconds of wall time for processing and flushing alone.
 */
#include "sigkit_api.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

static int Fail(const char* what, int status)
{
    fprintf(stderr, "sigkit_api_driver: %s: %s\n", what, sigkit_strerror(status));
    return 1;
}

static double Now(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + 1e-9 * (double)t.tv_nsec;
}

int main(int argc, char** argv)
{
    if (argc < 10)
    {
        fprintf(stderr, "usage: sigkit_api_driver KIND RATE COMPLEX FREQUENCY THIRD QUALITY BLOCK "
                        "IN.f32 OUT.f32|- [REPEATS]\n");
        return 2;
    }
    int kind = 0;
    for (int k = SIGKIT_KIND_FIRST; k <= SIGKIT_KIND_LAST; ++k)
        if (strcmp(sigkit_kind_name(k), argv[1]) == 0)
            kind = k;
    sigkit_config config;
    int status = sigkit_config_init(&config, kind);
    if (status != SIGKIT_OK)
        return Fail(argv[1], status);
    config.input_rate = atof(argv[2]);
    config.complex_input = atoi(argv[3]);
    config.frequency = atof(argv[4]);
    if (kind == SIGKIT_KIND_CONVERT)
        config.band = atof(argv[5]);
    else
        config.output_rate = atof(argv[5]);
    config.quality = atoi(argv[6]);
    const size_t block = (size_t)atol(argv[7]);
    const int repeats = argc > 10 ? atoi(argv[10]) : 1;

    FILE* in = fopen(argv[8], "rb");
    if (in == NULL || block == 0)
        return Fail(argv[8], SIGKIT_E_NOT_FOUND);
    fseek(in, 0, SEEK_END);
    const long bytes = ftell(in);
    fseek(in, 0, SEEK_SET);
    const size_t inFloats = config.complex_input ? 2 : 1;
    const size_t frames = (size_t)bytes / (4 * inFloats);
    float* input = malloc(frames * inFloats * sizeof(float) + 1);
    if (input == NULL || fread(input, 4 * inFloats, frames, in) != frames)
        return Fail(argv[8], SIGKIT_E_IO);
    fclose(in);

    sigkit_processor* p = NULL;
    status = sigkit_create(&config, &p);
    if (status != SIGKIT_OK)
        return Fail("create", status);
    int complexOut = 0, channels = 0;
    sigkit_output_layout(p, &complexOut, &channels, NULL);
    const size_t outFloats = complexOut ? 2 : (size_t)channels;
    size_t most = 0, tail = 0;
    sigkit_max_output(p, block, &most);
    sigkit_max_output(p, 0, &tail);
    size_t capacity = 0;
    if (sigkit_max_output(p, frames, &capacity) != SIGKIT_OK)
        return Fail("size", SIGKIT_E_OVERFLOW);
    capacity += tail + most;
    float* output = malloc(capacity * outFloats * sizeof(float) + 1);
    if (output == NULL)
        return Fail("output", SIGKIT_E_NO_MEMORY);

    double best = 1e300;
    size_t total = 0;
    for (int r = 0; r < repeats; ++r)
    {
        sigkit_reset(p);
        total = 0;
        const double start = Now();
        for (size_t at = 0; at < frames; at += block)
        {
            const size_t n = frames - at < block ? frames - at : block;
            size_t made = 0;
            status = sigkit_process(p, input + at * inFloats, n, output + total * outFloats,
                                    capacity - total, &made);
            if (status != SIGKIT_OK)
                return Fail("process", status);
            total += made;
        }
        size_t made = 0;
        status = sigkit_flush(p, output + total * outFloats, capacity - total, &made);
        if (status != SIGKIT_OK)
            return Fail("flush", status);
        total += made;
        const double seconds = Now() - start;
        best = seconds < best ? seconds : best;
    }
    printf("%.6f\n", best);
    if (strcmp(argv[9], "-") != 0)
    {
        FILE* out = fopen(argv[9], "wb");
        if (out == NULL || fwrite(output, outFloats * sizeof(float), total, out) != total ||
            fclose(out) != 0)
            return Fail(argv[9], SIGKIT_E_IO);
    }
    sigkit_destroy(p);
    free(input);
    free(output);
    return 0;
}
