#include "Harnesses.h"

#include "sigkit_api.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace sigfuzz {

namespace {

// How a fuzz input is read:
//   bytes 0..111   the configuration record, raw (its size field as given, so that other sizes
//                  are tried too); byte 0 bit 7 set: the size is made 112 and the kind taken
//                  from byte 4 modulo 17
//   byte 112       low bits: quality of the outputs' capacity (0 exact, 1 one frame short,
//                  2 generous); bit 7: flush at the end
//   bytes 113,114  block size in frames (1 .. 65536)
//   the rest       the input floats, as stored bits
constexpr std::size_t kHeader = 115;
// Calls whose most output exceeds this are only tried with a buffer too small.
constexpr std::size_t kLargestOutput = 1u << 20;

void Require(bool condition, const char* what)
{
    if (!condition)
    {
        std::fprintf(stderr, "harness check failed: %s\n", what);
        std::abort();
    }
}

bool KnownStatus(int status)
{
    return status <= 0 && status >= SIGKIT_E_HEADER_LIMIT && status != SIGKIT_E_INTERNAL;
}

} // namespace

void ApiProcessing(const uint8_t* data, std::size_t size)
{
    if (size < kHeader)
        return;
    sigkit_config config;
    std::memcpy(&config, data, sizeof config);
    if ((data[0] & 0x80) != 0)
    {
        config.size = sizeof config;
        config.kind = static_cast<int32_t>(data[4] % 17);
        // Most inputs at the cheapest quality: the long designs add time, not paths.
        config.quality = data[5] % 8 == 0 ? data[6] % 4 : SIGKIT_QUALITY_LOW;
    }
    // The record the caller owns is as long as its size says (zeros past the fuzz bytes; a size
    // beyond any record is refused unread).
    std::vector<unsigned char> record(
        std::max<std::size_t>(sizeof config, std::min<uint32_t>(config.size, 70000)));
    std::memcpy(record.data(), &config, sizeof config);
    sigkit_processor* p = nullptr;
    const int created = sigkit_create(reinterpret_cast<const sigkit_config*>(record.data()), &p);
    Require(KnownStatus(created), "create status");
    Require((created == SIGKIT_OK) == (p != nullptr), "create result and handle agree");
    if (p == nullptr)
        return;

    int complexOut = -1, channels = -1;
    double rate = 0, latency = 0;
    Require(sigkit_output_layout(p, &complexOut, &channels, &rate) == SIGKIT_OK, "layout");
    Require(sigkit_latency(p, &latency) == SIGKIT_OK && std::isfinite(latency), "latency");
    Require(rate > 0 && channels >= 1, "output layout");
    const std::size_t inFloats =
        config.complex_input != 0 ? 2 : static_cast<std::size_t>(config.channels);
    const std::size_t outFloats = complexOut != 0 ? 2 : static_cast<std::size_t>(channels);
    const int capacityMode = data[112] & 3;
    const std::size_t block = 1 + ((data[113] | (data[114] << 8)) & 0xFFFF);
    std::vector<float> in((size - kHeader) / 4);
    if (!in.empty())
        std::memcpy(in.data(), data + kHeader, in.size() * 4);
    const std::size_t frames = in.size() / inFloats;

    std::vector<float> out;
    auto call = [&](std::size_t n, const float* source) {
        std::size_t most = 0;
        Require(sigkit_max_output(p, n, &most) == SIGKIT_OK, "max output");
        std::size_t capacity = capacityMode == 2 ? most + 3 : most;
        if (capacityMode == 1 || most > kLargestOutput)
            capacity = most > 0 ? most - 1 : 0;
        if (most > kLargestOutput)
            capacity = capacity > 16 ? 16 : capacity;
        out.assign(capacity * outFloats + 1, 0.0f);
        out.back() = 12345.0f; // a guard past the capacity
        std::size_t made = 99;
        const int status = source != nullptr
                               ? sigkit_process(p, source, n, out.data(), capacity, &made)
                               : sigkit_flush(p, out.data(), capacity, &made);
        Require(KnownStatus(status), "process status");
        if (capacity < most)
            Require(status == SIGKIT_E_BUFFER_TOO_SMALL && made == 0, "small buffer refused");
        Require(made <= capacity, "made within the capacity");
        Require(out.back() == 12345.0f, "nothing written past the capacity");
        return status;
    };
    for (std::size_t at = 0; at < frames; at += block)
        call(frames - at < block ? frames - at : block, in.data() + at * inFloats);
    if ((data[112] & 0x80) != 0)
    {
        // A refused flush (buffer too small) leaves the stream open.
        const bool flushed = call(0, nullptr) == SIGKIT_OK;
        std::size_t made = 0;
        if (flushed)
            // Any call, even of no frames, is refused until a reset.
            Require(sigkit_process(p, in.data(), frames > 0 ? 1 : 0, out.data(), 0, &made) ==
                        SIGKIT_E_STATE,
                    "after flush only reset");
        Require(sigkit_reset(p) == SIGKIT_OK, "reset");
    }
    sigkit_destroy(p);
}

void ApiWavRead(const uint8_t* data, std::size_t size)
{
    const int fd = memfd_create("fuzz.wav", MFD_CLOEXEC);
    if (fd < 0)
        std::abort();
    for (std::size_t done = 0; done < size;)
    {
        const ssize_t put = write(fd, data + done, size - done);
        if (put <= 0)
            std::abort();
        done += static_cast<std::size_t>(put);
    }
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    sigkit_wav_info info{};
    info.size = sizeof info;
    sigkit_wav_reader* r = nullptr;
    const int status = sigkit_wav_open(path.c_str(), &info, &r);
    Require(KnownStatus(status) && (status == SIGKIT_OK) == (r != nullptr), "open");
    if (r != nullptr)
    {
        Require(info.channels >= 1 && info.rate > 0, "described");
        std::vector<float> block(static_cast<std::size_t>(info.channels) * 333 + 1);
        block.back() = 777.0f;
        std::size_t got = 0, total = 0;
        do
        {
            Require(sigkit_wav_read(r, block.data(), 333, &got) == SIGKIT_OK && got <= 333, "read");
            Require(block.back() == 777.0f, "nothing read past the buffer");
            total += got;
        } while (got > 0);
        Require(total <= info.frames, "no more frames than described");
        sigkit_wav_close_reader(r);
    }
    close(fd);
}

} // namespace sigfuzz
