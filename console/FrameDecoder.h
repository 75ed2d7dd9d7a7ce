#pragma once

#include "sigkit.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sigrun {

// Stored sample bytes of an input to floats at full scale 1.0, as the library's own readers map
// them: unsigned 8 bits (v - 128) / 128, signed integers divided by 2^(bits - 1), float as it is
// (NaN, infinities and values beyond a million, which no recording holds, as 0). Blocks may end
// inside a frame: the bytes of an unfinished frame wait for the next block.
class FrameDecoder
{
public:
    explicit FrameDecoder(const WavDescription& input);

    // Decodes the whole frames that the block completes into out (resized to frames * channels
    // floats). Result: the frames decoded.
    std::size_t Decode(const void* block, int32_t bytes, std::vector<float>& out);

private:
    float Sample(const unsigned char* at) const;

    int channels;
    int width; // bytes per sample
    bool isFloat;
    std::size_t frameBytes;
    std::vector<unsigned char> pending; // an unfinished frame's bytes
};

// The sigkit_encoding that holds the input's samples (0 for a format no encoding names).
int EncodingOf(const WavDescription& input);
// The integer range of the input's samples as a float of full scale 1 (2^(bits - 1); 1 for float):
// what a gain in the file's own scale is divided by.
double FullScale(const WavDescription& input);

} // namespace sigrun
