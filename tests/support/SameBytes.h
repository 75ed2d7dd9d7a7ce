#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace sigtest {

// Large files compared without a printed difference (which would take memory by their length
// squared): their sizes and the first byte that differs.
inline ::testing::AssertionResult SameBytes(const std::string& a, const std::string& b)
{
    if (a == b)
        return ::testing::AssertionSuccess();
    const auto at = std::mismatch(a.begin(), a.end(), b.begin(), b.end()).first - a.begin();
    return ::testing::AssertionFailure()
           << a.size() << " and " << b.size() << " bytes, first difference at " << at;
}

} // namespace sigtest
