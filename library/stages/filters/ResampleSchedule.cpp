#include "stages/filters/ResampleSchedule.h"

#include <algorithm>
#include <cmath>

namespace sigkit::schedule {

std::size_t MostDue(std::size_t count, float R)
{
    // From an accumulator below R, the adds reach R at most floor((count + R) / R) times.
    const double outputs = std::floor(static_cast<double>(count) / static_cast<double>(R)) + 1.0;
    return std::min(count, static_cast<std::size_t>(outputs));
}

namespace {

// Sums counted in units of R's last place. Where R + 1 still lies in R's binade, every sum the
// adds form from an accumulator a on that grid (0 <= a < R, so the sums stay below R + 1) is a
// float, so each add is exact and an output's fraction is a + n - R exactly, n the first count of
// adds that reaches R: in units, next = (a - R) mod unit and n = (next - a + R) / unit. A chain of
// two integer operations per output instead of a chain of float adds.
struct Grid
{
    bool usable = false;
    int32_t shift = 0; // the unit is 2^shift of the grid's steps, each step 2^-shift
    int64_t unit = 0;  // 1.0 in steps
    int64_t ratio = 0; // R in steps
    float step = 0.0f; // 2^-shift
};

Grid GridOf(float R)
{
    Grid grid;
    if (!(R >= 1.0f) || !(R < kExactCount))
        return grid;
    const int binade = std::ilogb(R); // 2^binade <= R < 2^(binade + 1)
    grid.shift = 23 - binade;
    grid.unit = int64_t{1} << grid.shift;
    grid.step = std::ldexp(1.0f, -grid.shift);
    grid.ratio = static_cast<int64_t>(std::ldexp(static_cast<double>(R), grid.shift));
    grid.usable = static_cast<double>(R) + 1.0 <= std::ldexp(1.0, binade + 1);
    return grid;
}

// The accumulator in the grid's steps, or -1 when it does not lie on the grid.
int64_t OnGrid(const Grid& grid, float a)
{
    const double steps = std::ldexp(static_cast<double>(a), grid.shift);
    if (!(a >= 0.0f) || !(a < static_cast<float>(grid.ratio) * grid.step) ||
        steps != std::floor(steps))
        return -1;
    return static_cast<int64_t>(steps);
}

// The rest of a run on the grid from input i: the outputs go to due from index outputs.
// Result: the new count of outputs; a and result as Schedule keeps them.
int32_t GridRun(const Grid& grid, int64_t at, int32_t i, int32_t count, int32_t outputs, Due* due,
                float& a, int32_t& result)
{
    const int64_t mask = grid.unit - 1;
    for (;;)
    {
        const int64_t next = (at - grid.ratio) & mask;
        const int64_t adds = (next - at + grid.ratio) >> grid.shift;
        if (adds > count - i)
            break;
        i += static_cast<int32_t>(adds);
        due[outputs++] = {i - 1, static_cast<float>(next) * grid.step};
        at = next;
        result = 1;
    }
    if (i < count)
    {
        at += static_cast<int64_t>(count - i) * grid.unit;
        result = 0;
    }
    a = static_cast<float>(at) * grid.step;
    return outputs;
}

} // namespace

int32_t Schedule(float R, int32_t count, Accumulator& state, Due* due)
{
    const Grid grid = GridOf(R);
    // A whole ratio (R = 5 or 20 exactly) from an accumulator at 0 repeats one pattern: an output
    // every R inputs, each with frac 0.
    const bool whole = R <= kExactCount && static_cast<float>(static_cast<int32_t>(R)) == R;
    const int32_t period = whole ? static_cast<int32_t>(R) : 0;
    int32_t outputs = 0;
    float a = state.acc;
    int32_t result = state.last;
    for (int32_t i = 0; i < count;)
    {
        if (grid.usable)
        {
            const int64_t at = OnGrid(grid, a);
            if (at >= 0)
            {
                outputs = GridRun(grid, at, i, count, outputs, due, a, result);
                break;
            }
        }
        if (whole && a == 0.0f)
        {
            // The adds 1, 2, ..., R are exact: outputs at every R-th input, then the rest of the
            // run (fewer than R inputs) leaves the accumulator at their count.
            const int32_t runs = (count - i) / period;
            for (int32_t m = 1; m <= runs; ++m)
                due[outputs++] = {i + m * period - 1, 0.0f};
            i += runs * period;
            result = runs > 0 ? 1 : result;
            if (i < count)
            {
                a = static_cast<float>(count - i);
                i = count;
                result = 0;
            }
            continue;
        }
        // From an accumulator value, the inputs up to the next output are taken in one add when
        // every one of those adds is exact: the last sum, a + J, is a float (below kExactCount,
        // where the unit in the last place is at most 1, so every smaller sum is a float as
        // well). J is the first count of adds that reaches R (R - a may round in double
        // precision and J come out one short: then a + J stays below R and the adds go one by
        // one). Otherwise one add per input up to the output. (Where a jump fails once - a
        // fraction with more bits than the sums can keep - it fails again: the rest of the call
        // goes add by add.)
        const double steps =
            state.jumps ? std::ceil(static_cast<double>(R) - static_cast<double>(a)) : 0.0;
        const double last = static_cast<double>(a) + steps;
        if (steps >= 1.0 && steps <= count - i && last < static_cast<double>(kExactCount) &&
            last >= static_cast<double>(R) && static_cast<double>(static_cast<float>(last)) == last)
        {
            a = static_cast<float>(last);
            i += static_cast<int32_t>(steps);
        }
        else
        {
            state.jumps = state.jumps && steps > count - i; // only the end of the run stopped it
            do
            {
                a = a + 1.0f;
                ++i;
            } while (a < R && i < count);
            if (a < R)
            {
                result = 0;
                continue;
            }
        }
        const float frac = a - R;
        a = frac;
        due[outputs++] = {i - 1, frac};
        result = 1;
    }
    state.acc = a;
    state.last = result;
    return outputs;
}

} // namespace sigkit::schedule
