#pragma once

#include <cstdint>

// Exact integer arithmetic on sample counts and rate ratios. Counts reach 2^40 and the terms of a
// ratio 2^31, so products are formed in 128 bits.
namespace sigkit::dsp {

__extension__ typedef __int128 Wide;

// ⌊a / b⌋ for b > 0 and any sign of a.
inline int64_t FloorDiv(Wide a, int64_t b)
{
    Wide q = a / b;
    if ((a % b != 0) && (a < 0))
        --q;
    return static_cast<int64_t>(q);
}

// ⌊a·b / c⌋ for c > 0.
inline int64_t MulDivFloor(int64_t a, int64_t b, int64_t c)
{
    return FloorDiv(static_cast<Wide>(a) * b, c);
}

// round(n·up / down), halves up, for n >= 0 and positive terms.
inline int64_t RoundedCount(int64_t n, int64_t up, int64_t down)
{
    return FloorDiv(2 * static_cast<Wide>(n) * up + down, 2 * down);
}

} // namespace sigkit::dsp
