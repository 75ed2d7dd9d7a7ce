#pragma once

#include "stages/Stage.h"
#include "stages/kernels/Kernels.h"

#include <cstddef>
#include <cstdint>

namespace sigkit {

// The first and last step of every processing block: stored sample bytes (one of seven formats,
// little-endian) into 32-bit floats on port 0, and floats back into the same format on port 1.
// Floats keep the integer scale of the stored format (a 16-bit sample of 1000 is 1000.0); the
// unsigned formats are centred on 127 and 32767. Channels do not matter here: a block is a flat
// run of samples. Counts are bytes; a trailing partial sample is ignored.
class AudioConvert final : public Stage
{
public:
    static constexpr int32_t kInitialCapacity = 4096; // bytes

    AudioConvert();
    ~AudioConvert() override;
    AudioConvert(const AudioConvert&) = delete;
    AudioConvert& operator=(const AudioConvert&) = delete;

    // "ConvertMode" (port 0: "32Float2Float", "Char2Float", "UChar2Float", "Short2Float",
    // "UShort2Float", "24Int2Float", "32Int2Float"), "ConvertModeRev" (port 1: "32Float2Float",
    // "Float2Char", "Float2UChar", "Float2Short", "Float2UShort", "Float2Int24", "Float2Int32"):
    // an unknown word keeps the mode. "Test": "On" or off, no effect.
    void SetParam(const char* name, const char* value) override;
    // Runs, with a fresh work buffer of 4096 bytes. Result: 1.
    int32_t Start() override;
    void Stop() override;
    // Converts at once; result: the output byte count (0 when stopped, for a port other than 0
    // and 1, or when the work buffer could not grow). In pass-through mode ("32Float2Float") the
    // caller's own block is handed on. A negative count counts as 0.
    int32_t Put(int32_t port, const void* block, int32_t bytes) override;
    // Hands out the result of the last Put, whatever the port, once.
    int32_t Get(int32_t port, const void** block, int32_t* bytes) override;

    // The forward conversion of `samples` stored samples into out, without the work buffer (for
    // a caller on another thread than the one that runs Put); the same values as port 0.
    void Decode(const void* block, int32_t samples, float* out) const;
    bool IsRunning() const { return stopped == 0; }

    int32_t Capacity() const { return capacity; }
    // 1 pass-through, 2..7 "Char2Float" .. "32Int2Float" (and the reverse words) in table order.
    int32_t ForwardMode() const { return forwardMode; }
    int32_t ReverseMode() const { return reverseMode; }
    // Bytes of one sample that port 0 takes and that port 1 gives (a float in pass-through).
    int32_t ForwardSampleBytes() const { return SampleBytes(forwardMode); }
    int32_t ReverseSampleBytes() const { return SampleBytes(reverseMode); }

private:
    static int32_t SampleBytes(int32_t mode)
    {
        return mode == 1 ? 4 : kernels::StoredBytes(static_cast<kernels::StoredFormat>(mode - 2));
    }
    // Replaces the work buffer by a new one of `bytes`; on failure the old one stays.
    bool Reallocate(int32_t bytes);

    int32_t testFlag = 0;
    int32_t stopped = 1;
    int32_t ready = 0;
    int32_t resultBytes = 0;
    int32_t forwardMode = 1; // 1 pass-through, 2..7 the stored formats in kernel order
    int32_t reverseMode = 1;
    uint8_t* work = nullptr; // 64-byte aligned, `capacity` bytes
    int32_t capacity = 0;
    const void* result = nullptr;      // work, or the caller's block in pass-through mode
    const kernels::KernelTable& table; // the conversions, chosen once for this processor
};

} // namespace sigkit
