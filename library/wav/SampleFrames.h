#pragma once

#include "wav/FileWAV.h"

#include <cstddef>
#include <cstdint>

// Sample frames of a WAV file as floats at full scale 1.0, for analysis (spectra): integer PCM of
// 8 (unsigned), 16, 24 and 32 bits and 32-bit float, also inside an extensible format.
namespace sigkit {

struct SampleFormat
{
    uint16_t tag = 0; // integer PCM or float (an extensible format's sub-format), else 0
    uint16_t channels = 0;
    uint16_t bits = 0;       // container width of one sample
    uint16_t blockAlign = 0; // bytes of one frame
    double rate = 0.0;       // Hz: the exact rate when the file keeps one, else the whole one
    // True when the frames can be decoded.
    bool Readable() const;
};

SampleFormat FormatOf(const FileWAV& file);

// Decodes `frames` frames (blockAlign bytes each, any alignment) into frames · channels floats,
// channels interleaved.
void DecodeFrames(const SampleFormat& format, const uint8_t* bytes, std::size_t frames, float* out);

} // namespace sigkit
