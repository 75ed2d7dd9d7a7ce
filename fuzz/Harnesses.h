#pragma once

#include <cstddef>
#include <cstdint>

// Fuzz harnesses: each takes arbitrary bytes and runs them through one way into the library. The
// libFuzzer targets call them, and the regression tests replay the stored corpus through them
// in the normal (and sanitizer) builds. Each one checks what must hold whatever the input, and
// aborts when it does not.
namespace sigfuzz {

// The bytes as a file: header scan and streamed reading, in pieces of varying size.
void WavFile(const uint8_t* data, std::size_t size);
// The bytes as a recording whose spectra, picture and station list are made.
void SpectrumOfFile(const uint8_t* data, std::size_t size);
// The bytes as a file behind wav_read_init / wav_read_data.
void WavReadExports(const uint8_t* data, std::size_t size);
// The bytes as a parameter record and sample blocks for every processing family.
void ProcessingExports(const uint8_t* data, std::size_t size);
// The bytes as a sigkit_ configuration record and float blocks through a processing object.
void ApiProcessing(const uint8_t* data, std::size_t size);
// The bytes as a file behind sigkit_wav_open / sigkit_wav_read.
void ApiWavRead(const uint8_t* data, std::size_t size);

} // namespace sigfuzz
