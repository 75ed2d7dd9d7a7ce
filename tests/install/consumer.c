/* A program as a new user writes it against an installed sigkit: a tone resampled through the
 * sigkit_ API, written to a WAV file and read back. Exit status 0 when all went as expected. */
#include <sigkit_api.h>

#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#define CHECK(call)                                                                                \
    do                                                                                             \
    {                                                                                              \
        int status_ = (call);                                                                      \
        if (status_ != SIGKIT_OK)                                                                  \
        {                                                                                          \
            fprintf(stderr, "%s: %s\n", #call, sigkit_strerror(status_));                          \
            return 1;                                                                              \
        }                                                                                          \
    } while (0)

int main(int argc, char** argv)
{
    const char* path = argc > 1 ? argv[1] : "consumer.wav";
    printf("sigkit %s\n", sigkit_version(NULL, NULL, NULL));

    sigkit_config config;
    CHECK(sigkit_config_init(&config, SIGKIT_KIND_RESAMPLE));
    config.input_rate = 48000;
    config.output_rate = 8000;
    config.quality = SIGKIT_QUALITY_LOW;
    sigkit_processor* p = NULL;
    CHECK(sigkit_create(&config, &p));

    enum
    {
        FRAMES = 48000
    };
    float* in = malloc(2 * FRAMES * sizeof(float));
    for (int n = 0; n < FRAMES; ++n)
    {
        in[2 * n] = (float)(0.5 * cos(2 * 3.14159265358979 * 1000.0 * n / 48000.0));
        in[2 * n + 1] = (float)(0.5 * sin(2 * 3.14159265358979 * 1000.0 * n / 48000.0));
    }
    size_t most = 0, tail = 0, made = 0, flushed = 0;
    CHECK(sigkit_max_output(p, FRAMES, &most));
    CHECK(sigkit_max_output(p, 0, &tail));
    float* out = malloc(2 * (most + tail) * sizeof(float));
    CHECK(sigkit_process(p, in, FRAMES, out, most, &made));
    CHECK(sigkit_flush(p, out + 2 * made, tail, &flushed));
    sigkit_destroy(p);

    sigkit_wav_format shape;
    CHECK(sigkit_wav_format_init(&shape, SIGKIT_ENCODING_S16, 8000, 2));
    sigkit_wav_writer* w = NULL;
    CHECK(sigkit_wav_create(path, &shape, &w));
    CHECK(sigkit_wav_write(w, out, made + flushed));
    CHECK(sigkit_wav_close(w));

    sigkit_wav_info info = {sizeof info};
    sigkit_wav_reader* r = NULL;
    CHECK(sigkit_wav_open(path, &info, &r));
    size_t got = 0;
    CHECK(sigkit_wav_read(r, out, made + flushed, &got));
    sigkit_wav_close_reader(r);
    printf("%zu frames at %.0f Hz, %zu read back\n", made + flushed, info.rate, got);
    free(in);
    free(out);
    return got == made + flushed && info.rate == 8000 && got > 7000 ? 0 : 1;
}
