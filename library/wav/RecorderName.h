#pragma once

#include "wav/Metadata.h"

// The centre frequency and start time that SDR recorders put into their file names, for files
// without an auxi chunk:
//
//   NAME_20240101_120000Z_7100kHz_IQ.wav       date, time (Z: UTC), frequency with its unit
//   NAME_20240101_120000Z_7100000Hz_IQ.wav     Hz, kHz, MHz or GHz, any case, a decimal point
//   NAME_2024-01-01_12-00-00Z_14.074MHz.wav    dashed date, time with dashes, dots or colons
//   NAME_20240101T120000.250Z_7.1 MHz.wav      "T" between, a fraction of a second, a space
//
// A number counts only as a whole word (a letter or digit on either side is no boundary); the
// first plausible frequency and the first valid date and time are taken. A time without "Z" is
// taken as UTC, and the record says so. A name marked "AF" (an audio recording of a tuned
// frequency) gives no centre.
namespace sigkit {

Metadata MetadataFromName(const char* path);

// The metadata of a recording: the auxi chunk's, with what it does not know taken from the
// file name.
Metadata CombineWithName(const Metadata& fromAuxi, const char* path);

} // namespace sigkit
