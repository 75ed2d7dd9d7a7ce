#pragma once

#include <cstdint>
#include <string>

// A 5 x 7 pixel font of our own for the printable ASCII characters (32 .. 126), for labels on
// pictures without any font library.
namespace sigkit::font {

inline constexpr int32_t kGlyphWidth = 5;
inline constexpr int32_t kGlyphHeight = 7;
inline constexpr int32_t kAdvance = 6; // glyph and one column of space

// The 7 rows of a character, top first; bit 4 is the leftmost pixel. Characters outside the
// printable ASCII range are drawn as "?".
const uint8_t* Glyph(char c);
// Width in pixels of a text drawn at a scale (no space after the last glyph).
int32_t TextWidth(const std::string& text, int32_t scale);

} // namespace sigkit::font
