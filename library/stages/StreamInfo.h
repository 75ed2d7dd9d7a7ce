#pragma once

#include <array>
#include <cstdint>
#include <cstring>

namespace sigkit {

// The 572-byte report that the rate-changing stages hand out on port 1: the frequency moved to
// 0 Hz at offset 0, the input rate at offset 32 (floats), and at offset 28 whether the start-up
// outputs have been dropped. The other words are fixed as constructed.
class StreamInfo
{
public:
    static constexpr std::size_t kBytes = 572;

    StreamInfo()
    {
        PutFloat(40, 5.0f);
        PutFloat(44, 7.0f);
        PutFloat(48, 10.0f);
        PutInt(52, 1);
    }

    void Update(float frequency, float rate, int32_t warmDone)
    {
        PutFloat(0, frequency);
        PutInt(28, warmDone);
        PutFloat(32, rate);
    }

    const uint8_t* Bytes() const { return bytes.data(); }

private:
    void PutFloat(std::size_t at, float v) { std::memcpy(bytes.data() + at, &v, 4); }
    void PutInt(std::size_t at, int32_t v) { std::memcpy(bytes.data() + at, &v, 4); }

    std::array<uint8_t, kBytes> bytes{};
};

} // namespace sigkit
