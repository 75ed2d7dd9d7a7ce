#pragma once

#include <cstdint>

namespace sigkit {

// Levels below this are shown as this (no power at all included).
inline constexpr float kSilenceDb = -300.0f;

// 10·log10(power), computed by this library's own arithmetic (no libm call whose result could
// differ between processors): the same bits on every machine. Accurate to a few units in the last
// place of a double; powers at or below 1e-30 (and NaN) give kSilenceDb.
float PowerToDb(double power);
// The inverse, 10^(db / 10), by the same kind of arithmetic; db is limited to -3000 .. 3000.
double DbToPower(double db);

} // namespace sigkit
