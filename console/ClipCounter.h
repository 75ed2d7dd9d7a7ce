#pragma once

#include <cstdint>

namespace sigrun {

// Counts the samples of an output stream that sit at either end of the stored format's integer
// range (8 bits unsigned: 0 and 255; 16, 24 and 32 bits signed: the most negative and the most
// positive value), which is where the converter puts every value beyond the range. Float samples
// have no such ends and are never counted. Blocks may end inside a sample.
class ClipCounter
{
public:
    ClipCounter(uint16_t formatTag, uint16_t bitsPerSample);

    void Count(const void* block, int32_t bytes);
    long long Clipped() const { return clipped; }

private:
    void CountWhole(const unsigned char* bytes, long long count);

    int width = 0; // bytes per sample; 0: nothing is counted
    unsigned char pending[4]{};
    int pendingBytes = 0;
    long long clipped = 0;
};

} // namespace sigrun
