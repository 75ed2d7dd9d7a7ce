#pragma once

#include "wav/Metadata.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// The "auxi" chunk of SDR recorders, little-endian:
//
//   offset  width  field
//        0     16  start time: year, month, day of week (0 Sunday), day, hour, minute, second,
//                  millisecond; unsigned 16 bits each, UTC
//       16     16  stop time, the same way
//       32      4  centre frequency, Hz
//       36      4  A/D frequency, Hz
//       40      4  IF frequency, Hz
//       44      4  bandwidth, Hz
//       48      4  IQ offset
//       52      4  dB offset
//       56      4  maximum value
//       60      4  unused
//       64      4  unused
//       68    ...  more in many files (a 96-byte name of the next file of a series: 164 in all)
//
// A time of all zeros, or one that is no valid date, is not known; a centre of 0 is not known.
// Some recorders put a text (XML) body in the chunk instead: it is kept, not interpreted.
namespace sigkit {

// The bytes up to and including the last known field.
inline constexpr uint32_t kAuxiFieldBytes = 68;
// The length this system writes when it has no body of the input's to keep.
inline constexpr uint32_t kAuxiWrittenBytes = 164;
// Longest body kept whole; a longer one gives its known fields only.
inline constexpr uint32_t kAuxiCapacity = 1024;

// The fields of a body of `size` bytes; a short body gives the fields it holds wholly.
// declaredSize is what the chunk header declared: a chunk that is not whole in the file (it
// declares more than the file holds) or longer than kAuxiCapacity is damaged or not of the known
// kind, and gives nothing.
Metadata ReadAuxi(const uint8_t* body, std::size_t size, uint64_t declaredSize);

// The body for an output: the input's body with the known fields written over (every other byte
// kept), or a fresh kAuxiWrittenBytes one. Empty when the metadata holds nothing. A start or stop
// time is rounded to the nearest millisecond; a centre below 0.5 Hz or beyond 32 bits of Hz is
// written as 0 (not known).
std::vector<uint8_t> ComposeAuxi(const Metadata& metadata);

// Writes the stop time into a binary body of `size` bytes: its start time plus seconds. False
// when the body holds no start time (or is no binary body).
bool SetAuxiStop(uint8_t* body, std::size_t size, double seconds);

} // namespace sigkit
