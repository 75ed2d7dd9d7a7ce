#pragma once

#include <cstddef>
#include <cstdint>

namespace sigkit::api {

// How the samples of one type are stored and how they map onto floats at full scale 1.0: the
// WAV encodings and the raw sample types (enum sigkit_sample_type, whose real members are the
// encodings). Integer types map their range onto -1.0 .. 1.0 by a power of two, exactly; cu8 is
// centred on 127.5 and scaled by 127.5.
class SampleCoding
{
public:
    // False for a number that is no type (the coding is left as it was).
    bool Set(int type);

    int Type() const { return type; }
    // Bytes of one stored sample (an I or a Q alone for complex types).
    uint32_t Bytes() const { return bytes; }
    bool Complex() const { return complexType; }
    bool Float() const { return floatType; }

    // n stored samples to floats. The bytes serve as scratch (unsigned ones are changed).
    void ToFloats(uint8_t* stored, std::size_t n, float* out) const;
    // n floats to stored samples (n * Bytes() bytes), rounded to the nearest step (halves to
    // even) and limited to the range, NaN as 0.0; floats are stored as they are. scaled holds n
    // floats of room. Result: the samples that sit at either end of an integer range.
    uint64_t FromFloats(const float* in, std::size_t n, float* scaled, uint8_t* out) const;

private:
    int type = 0;
    uint32_t bytes = 0;
    bool complexType = false;
    bool floatType = false;
    int32_t format = 0;    // the kernels' StoredFormat of an integer type
    float toUnit = 0.0f;   // one integer step at full scale 1.0: 2^-(bits - 1)
    float fromUnit = 0.0f; // 2^(bits - 1)
};

} // namespace sigkit::api
