#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// Pictures written as PNG through libpng: 8-bit RGB, rows top first, three bytes a pixel (the
// library's picture buffer).
namespace sigrun {

// Writes to an open stream (standard output for "--png -"); false with the reason on failure.
bool WritePng(std::FILE* out, int32_t width, int32_t height, const uint8_t* rgb,
              std::string& error);
// Writes a file whole: into PATH.part beside it, renamed onto PATH once complete, so that PATH
// never holds half a picture. False with the reason on failure (the part file is removed).
bool WritePngFile(const std::string& path, int32_t width, int32_t height, const uint8_t* rgb,
                  std::string& error);

} // namespace sigrun
