#pragma once

#include <string>

namespace sigtest {

// SHA-256 of a byte string, as 64 lower-case hexadecimal digits.
std::string Sha256Hex(const std::string& bytes);

} // namespace sigtest
