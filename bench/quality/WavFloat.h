#pragma once

// The WAV files the quality table exchanges with the peers' programs: 32-bit float samples
// written, 32-bit float or 16-bit integer samples read (plain or extensible format). Headers are
// read and written byte by byte, little-endian.
#include "Signal.h"

#include <string>

namespace sigquality {

// A two-channel complex signal is written as two channels, I first.
bool WriteFloatWav(const std::string& path, const Signal& s, std::string& error);

// Reads the whole file; two channels are taken as I/Q when `complexPair` is set.
bool ReadWav(const std::string& path, bool complexPair, Signal& s, std::string& error);

} // namespace sigquality
