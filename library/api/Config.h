#pragma once

#include "sigkit_api.h"

#include <cstddef>
#include <cstdint>

namespace sigkit::api {

// Reads a caller's record that starts with its own size into a whole record of this version.
// Sizes below `firstSize` are refused, as are larger sizes whose bytes beyond this version's
// record are not all zero. Fields that an older, shorter record lacks keep what `full` held
// (the defaults). Result: a sigkit_status.
int ReadRecord(const void* record, std::size_t firstSize, std::size_t currentSize, void* full);

// Fills an output record whose caller gave its size: this version's fields up to that size, and
// zeros beyond them. Result: a sigkit_status (SIGKIT_E_RECORD_SIZE below `firstSize`).
int WriteRecord(const void* full, std::size_t firstSize, std::size_t currentSize, void* record);

// The defaults of sigkit_config_init.
void DefaultConfig(sigkit_config& config, int kind);

// The checks every kind shares: rates, channels, gain, quality, frequency. Result: a status.
int CheckCommon(const sigkit_config& config);

// True for a finite value without a fractional part inside the range of int32_t.
bool WholeInt32(double value);

} // namespace sigkit::api
