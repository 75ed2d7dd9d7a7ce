#include "stages/filters/PolyphaseResampler.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <new>

namespace sigkit {

namespace {

constexpr float kBankPi = 3.1415927f; // the interpolation's pi, single precision
// Inputs stored and scheduled per round of the block step (a block of any size goes in rounds).
constexpr int32_t kChunk = 2048;
// Outputs between phases are formed two at a time up to this many taps.
constexpr int32_t kPairedTaps = 512;

} // namespace

PolyphaseResampler::PolyphaseResampler()
    : historyI(kHistoryCapacity, 0.0f), historyQ(kHistoryCapacity, 0.0f), due(kChunk),
      table(kernels::Active())
{
    bank = kernels::AllocateComplex(5 * static_cast<std::size_t>(kHistoryCapacity));
    scratch = kernels::AllocateComplex(kHistoryCapacity);
    if (bank == nullptr || scratch == nullptr)
    {
        kernels::FreeComplex(bank);
        kernels::FreeComplex(scratch);
        throw std::bad_alloc();
    }
    scratchI = scratch;
    scratchQ = scratch + kHistoryCapacity;
}

PolyphaseResampler::~PolyphaseResampler()
{
    kernels::FreeComplex(scratch);
    kernels::FreeComplex(bank);
}

bool PolyphaseResampler::UsableRatio(float R)
{
    return std::isfinite(R) && R > 0.0f && R * kMaxUpRatio >= 1.0f;
}

int32_t PolyphaseResampler::DesignBank(float rateIn, float rateOut, float beta, FilterWindow window,
                                       int32_t length)
{
    // Only what was written can be other than zero: the coefficients of the last design (the
    // arrays were zeroed at construction). Of the history, only the entries that the first
    // windows reach before the new samples do ([0, NT): w starts at 0 and moves down from the
    // top) are read before being written again; they are cleared, the rest is overwritten
    // before any window reaches it.
    for (int32_t p = 0; p < 10; ++p)
        std::fill(Bank(p), Bank(p) + bankExtent, 0.0f);
    bankExtent = 0;
    const auto cleared =
        static_cast<int32_t>(std::clamp<int64_t>(int64_t{length} + 8, 0, kHistoryCapacity));
    std::fill(historyI.begin(), historyI.begin() + cleared, 0.0f);
    std::fill(historyQ.begin(), historyQ.begin() + cleared, 0.0f);
    state = 0;
    w = 0;
    acc = 0.0f;
    tameLimit = 0.0f;
    tameRun = kHistoryCapacity; // all zeros
    // A phase filter of N + 8 coefficients must fit the history.
    const bool valid = length >= 1 && length % 2 == 1 && length + 8 <= kHistoryCapacity;
    N = valid ? length : 0;
    NT = valid ? length + 7 : 0;
    designed = valid ? 1 : 0;
    if (!valid)
        return 0;
    bankExtent = N + 8;

    // The prototype passes |f| < rateOut / 2. Interpolating (rateOut above rateIn), the bank runs
    // at the input rate, whose band ends at rateIn / 2: the prototype then keeps 0.9 of it, so
    // that the phases interpolate a band-limited filter of unit gain and the images stay out.
    float fc = rateOut / rateIn;
    if (!(fc <= 1.0f))
        fc = kInterpolationEdge;
    float* h = Bank(kPrototype);
    DesignLowPass(fc, beta, window, N, h);

    // c_p[j] = Σ_k sinc(((k - j + 4) + p/8) · π) · h[k], j = 0 .. N+7, summed in single precision
    // in the order k = 0, 1, 2, ... The sinc depends on k - j alone, so its values are taken
    // once per phase: n = k - j + 4 runs from -(N + 3) to N + 3.
    const int32_t lowest = -(N + 3);
    std::vector<float> sincs(static_cast<std::size_t>(2 * N + 7));
    std::vector<float> sums(static_cast<std::size_t>(N + 8));
    for (int32_t p = 0; p < kPhases; ++p)
    {
        const float offset = static_cast<float>(p) / 8.0f;
        for (int32_t n = lowest; n <= N + 3; ++n)
        {
            const float position = p == 0 ? static_cast<float>(n) : static_cast<float>(n) + offset;
            sincs[static_cast<std::size_t>(n - lowest)] = Sinc(position * kBankPi);
        }
        std::fill(sums.begin(), sums.end(), 0.0f);
        // k outside, j inside: every sum still takes its terms in the order k = 0, 1, 2, ...
        for (int32_t k = 0; k < N; ++k)
        {
            const float hk = h[k];
            const float* s = sincs.data() + (k + 4 - lowest);
            for (int32_t j = 0; j < N + 8; ++j)
            {
                const float product = s[-j] * hk;
                sums[static_cast<std::size_t>(j)] = sums[static_cast<std::size_t>(j)] + product;
            }
        }
        std::copy(sums.begin(), sums.end(), Bank(p));
    }

    // The largest sum of tap magnitudes over the filters the steps use (the nine phases over NT
    // taps; phase 0 over N + 1 is within it). A sum over samples of magnitude at most tameLimit
    // stays below an eighth of the float range, roundings included.
    double largest = 0.0;
    for (int32_t p = 0; p < kPhases; ++p)
    {
        double magnitude = 0.0;
        for (int32_t j = 0; j < NT; ++j)
            magnitude += std::fabs(static_cast<double>(Bank(p)[j]));
        largest = std::max(largest, magnitude);
    }
    tameLimit = largest > 0.0 ? static_cast<float>(static_cast<double>(FLT_MAX) / (8.0 * largest))
                              : FLT_MAX;
    return N;
}

void PolyphaseResampler::Store(float I, float Q)
{
    historyI[static_cast<std::size_t>(w)] = I;
    historyQ[static_cast<std::size_t>(w)] = Q;
    const bool tame = std::fabs(I) <= tameLimit && std::fabs(Q) <= tameLimit;
    tameRun = tame ? std::min(tameRun + 1, kHistoryCapacity) : 0;
}

// The complex sum of the taps over (I, Q) samples is the real sum over I and the one over Q, each
// in the kernels' order: the I and Q histories are kept apart so that every load serves one part.
void PolyphaseResampler::Sum(const float* taps, int32_t from, int32_t length, float& sumI,
                             float& sumQ)
{
    sumI = table.dot(taps, HistoryWindow(historyI.data(), from, length, scratchI), length);
    sumQ = table.dot(taps, HistoryWindow(historyQ.data(), from, length, scratchQ), length);
}

void PolyphaseResampler::Interpolate(int32_t p, float t, float& outI, float& outQ)
{
    float sums[4];
    table.dotPair(Bank(p), Bank(p + 1), HistoryWindow(historyI.data(), w, NT, scratchI),
                  HistoryWindow(historyQ.data(), w, NT, scratchQ), NT, sums);
    // sums: A.I, B.I, A.Q, B.Q.
    outI = sums[0] + (sums[1] - sums[0]) * t;
    outQ = sums[2] + (sums[3] - sums[2]) * t;
}

int32_t PolyphaseResampler::ResampleStep(float I, float Q, float rateIn, float rateOut, float& outI,
                                         float& outQ)
{
    const float R = rateIn / rateOut;
    if (designed == 0 || !UsableRatio(R))
        return 0;

    if (!(1.0f > R))
    {
        // Decimating: one output every R inputs.
        Store(I, Q);
        acc = acc + 1.0f;
        if (acc < R)
        {
            w = NextWritePosition(w);
            state = 0;
            return 0;
        }
        const float frac = acc - R; // how far the output instant lies before the newest input
        acc = frac;
        if (8.0f > R)
        {
            const auto p = static_cast<int32_t>(8.0f * frac);
            const auto t = static_cast<float>((static_cast<double>(frac) - p * 0.125) * 8.0);
            Interpolate(p, t, outI, outQ);
        }
        else
        {
            // Phase 0 over N taps; between two neighbouring windows while R < 32.
            float aI = 0.0f;
            float aQ = 0.0f;
            Sum(Bank(0), w, N, aI, aQ);
            if (32.0f > R)
            {
                const int32_t older = w == kHistoryCapacity - 1 ? 0 : w + 1;
                float bI = 0.0f;
                float bQ = 0.0f;
                Sum(Bank(0), older, N, bI, bQ);
                outI = aI + (bI - aI) * frac;
                outQ = aQ + (bQ - aQ) * frac;
            }
            else
            {
                outI = aI;
                outQ = aQ;
            }
        }
        w = NextWritePosition(w);
        state = 1;
        return 1;
    }

    // Interpolating: one or more outputs per input. After a 2 the same input serves again.
    if (state != 2)
    {
        Store(I, Q);
        acc = acc + 1.0f;
    }
    if (acc < R)
    {
        state = 0;
        w = NextWritePosition(w);
        return 0;
    }
    const float frac = std::min(1.0f, acc - R);
    acc = frac;
    const auto p = static_cast<int32_t>(8.0f * frac);
    const auto t = static_cast<float>((static_cast<double>(frac) - p * 0.125) * 8.0);
    Interpolate(p, t, outI, outQ); // p = 8 comes only with t = 0: the phase-8 sum
    if (acc >= R)
    {
        state = 2;
        return 2;
    }
    state = 1;
    w = NextWritePosition(w);
    return 1;
}

std::size_t PolyphaseResampler::MaxOutputs(std::size_t n, float rateIn, float rateOut)
{
    const float R = rateIn / rateOut;
    if (n == 0 || !UsableRatio(R))
        return 0;
    if (!(1.0f > R))
        return n;
    // Interpolating: each input gives at most ceil(1 / R) + 2 outputs.
    return n * (static_cast<std::size_t>(std::ceil(1.0f / R)) + 2);
}

bool PolyphaseResampler::Tame(const float* x, int32_t n) const
{
    // On the bits: the magnitude of a float orders as its bit pattern without the sign, and an
    // infinity or a NaN lies above every finite value.
    uint32_t limit = 0;
    std::memcpy(&limit, &tameLimit, sizeof limit);
    uint32_t largest = 0;
    for (int32_t i = 0; i < n; ++i)
    {
        uint32_t bits = 0;
        std::memcpy(&bits, x + i, sizeof bits);
        largest = std::max(largest, bits & 0x7FFFFFFFu);
    }
    return largest <= limit;
}

PolyphaseResampler::OutputPlan PolyphaseResampler::Plan(float R, float frac) const
{
    if (8.0f > R)
    {
        const auto p = static_cast<int32_t>(8.0f * frac);
        const auto t = static_cast<float>((static_cast<double>(frac) - p * 0.125) * 8.0);
        return {p, NT, t, true, true};
    }
    if (32.0f > R)
        return {0, N, frac, true, false};
    return {0, N, 0.0f, false, false};
}

void PolyphaseResampler::FullOutput(const OutputPlan& plan, int32_t position, float* outI,
                                    float* outQ)
{
    const float t = plan.weight;
    if (plan.neighbourIsPhase)
    {
        // Phases p and p + 1 over the same window: A.I, B.I (and A.Q, B.Q).
        float sums[4];
        const float* windowQ =
            outQ != nullptr ? HistoryWindow(historyQ.data(), position, NT, scratchQ) : nullptr;
        table.dotPair(Bank(plan.phase), Bank(plan.phase + 1),
                      HistoryWindow(historyI.data(), position, NT, scratchI), windowQ, NT, sums);
        *outI = sums[0] + (sums[1] - sums[0]) * t;
        if (outQ != nullptr)
            *outQ = sums[2] + (sums[3] - sums[2]) * t;
        return;
    }
    // Phase 0 over N taps at this window (A) and the one a sample older (B): the block filter
    // gives B first (its window lies higher), then A.
    float sums[2];
    const float* windowI = HistoryWindow(historyI.data(), position, N + 1, scratchI);
    table.firBlock(Bank(0), N, windowI + 1, 1, 2, sums);
    *outI = sums[1] + (sums[0] - sums[1]) * t;
    if (outQ != nullptr)
    {
        const float* windowQ = HistoryWindow(historyQ.data(), position, N + 1, scratchQ);
        table.firBlock(Bank(0), N, windowQ + 1, 1, 2, sums);
        *outQ = sums[1] + (sums[0] - sums[1]) * t;
    }
}

void PolyphaseResampler::TwoOutputs(const Due* pair, float* outI, float* outQ)
{
    const float* a[2] = {Bank(pair[0].plan.phase), Bank(pair[1].plan.phase)};
    const float* b[2] = {Bank(pair[0].plan.phase + 1), Bank(pair[1].plan.phase + 1)};
    const float* x[2] = {historyI.data() + pair[0].position, historyI.data() + pair[1].position};
    const float* y[2] = {historyQ.data() + pair[0].position, historyQ.data() + pair[1].position};
    float sums[8];
    table.dotPairTwice(a, b, x, outQ != nullptr ? y : nullptr, NT, sums);
    for (int k = 0; k < 2; ++k)
    {
        // sums[4k ..]: A.I, B.I, A.Q, B.Q of output k.
        const float t = pair[k].plan.weight;
        outI[k] = sums[4 * k] + (sums[4 * k + 1] - sums[4 * k]) * t;
        if (outQ != nullptr)
            outQ[k] = sums[4 * k + 2] + (sums[4 * k + 3] - sums[4 * k + 2]) * t;
    }
}

void PolyphaseResampler::FirstSums(const OutputPlan& plan, const Due* first, int32_t count,
                                   int32_t stride, float* outI, float* outQ)
{
    const float* taps = Bank(plan.phase);
    const int32_t newest = first[count - 1].position; // the lowest of the windows
    const int32_t offset = first[0].position - newest;
    const int32_t span = offset + plan.length;
    table.firBlock(taps, plan.length,
                   HistoryWindow(historyI.data(), newest, span, scratchI) + offset, stride, count,
                   outI);
    if (outQ != nullptr)
        table.firBlock(taps, plan.length,
                       HistoryWindow(historyQ.data(), newest, span, scratchQ) + offset, stride,
                       count, outQ);
}

void PolyphaseResampler::Outputs(const Due* list, int32_t count, bool skipNeighbour, float* outI,
                                 float* outQ)
{
    // With weight 0 the output A + (B - A)·0 is A itself, provided B - A is finite and A is not
    // -0.0: skipNeighbour vouches for both (tame samples, default floating-point environment).
    const auto firstAlone = [&](const OutputPlan& plan) { return FirstAlone(plan, skipNeighbour); };
    for (int32_t k = 0; k < count;)
    {
        if (list[k].formed)
        {
            ++k;
            continue;
        }
        const OutputPlan& plan = list[k].plan;
        if (!firstAlone(plan))
        {
            // Two neighbouring outputs that both interpolate between phases are formed together
            // (unless a window wraps: each would need the scratch).
            if (k + 1 < count && !list[k + 1].formed && !firstAlone(list[k + 1].plan) &&
                plan.neighbourIsPhase && list[k + 1].plan.neighbourIsPhase &&
                list[k].position + NT <= kHistoryCapacity &&
                list[k + 1].position + NT <= kHistoryCapacity)
            {
                TwoOutputs(list + k, outI + k, outQ != nullptr ? outQ + k : nullptr);
                k += 2;
                continue;
            }
            FullOutput(plan, list[k].position, outI + k, outQ != nullptr ? outQ + k : nullptr);
            ++k;
            continue;
        }
        // A run of first sums of one filter whose windows lie equally far apart shares the loads
        // of its taps.
        int32_t end = k + 1;
        int32_t stride = 0;
        while (end < count)
        {
            const OutputPlan& next = list[end].plan;
            const int32_t gap = list[end - 1].position - list[end].position;
            if (list[end].formed || !firstAlone(next) || next.phase != plan.phase ||
                next.length != plan.length || (stride != 0 && gap != stride) ||
                list[k].position - list[end].position + plan.length > kHistoryCapacity)
                break;
            stride = gap;
            ++end;
        }
        FirstSums(plan, list + k, end - k, stride, outI + k, outQ != nullptr ? outQ + k : nullptr);
        k = end;
    }
}

int32_t PolyphaseResampler::ResampleBlock(const float* I, const float* Q, int32_t n, float rateIn,
                                          float rateOut, float* outI, float* outQ)
{
    const float R = rateIn / rateOut;
    if (designed == 0 || !UsableRatio(R) || n <= 0)
        return 0;
    int32_t produced = 0;
    if (1.0f > R)
    {
        // Interpolating: input by input, again after each 2.
        for (int32_t i = 0; i < n; ++i)
        {
            const float q = Q != nullptr ? Q[i] : 0.0f;
            float oI = 0.0f;
            float oQ = 0.0f;
            int32_t r = ResampleStep(I[i], q, rateIn, rateOut, oI, oQ);
            while (r != 0)
            {
                outI[produced] = oI;
                if (outQ != nullptr)
                    outQ[produced] = oQ;
                ++produced;
                if (r != 2)
                    break;
                r = ResampleStep(I[i], q, rateIn, rateOut, oI, oQ);
            }
        }
        return produced;
    }

    const bool quiet = kernels::DefaultFloatEnvironment();
    // A whole ratio (R = 5 or 20 exactly) from an accumulator at 0 repeats one pattern: an output
    // every R inputs, each with frac 0 and so one plan.
    const bool whole = R <= 16777216.0f && static_cast<float>(static_cast<int32_t>(R)) == R;
    const int32_t period = whole ? static_cast<int32_t>(R) : 0;
    const OutputPlan atZero = Plan(R, 0.0f);
    bool jumps = true;
    for (int32_t done = 0; done < n;)
    {
        // The chunk's samples go to w, w - 1, ... without passing 0, and no window of its outputs
        // reaches round the history into them.
        const int32_t count = std::min({n - done, w + 1, kChunk, kHistoryCapacity - NT});
        const int32_t tameBefore = tameRun;
        uint32_t largest = table.storeReversed(I + done, count, historyI.data() + w);
        if (Q != nullptr)
            largest = std::max(largest, table.storeReversed(Q + done, count, historyQ.data() + w));
        else
            std::fill(historyQ.begin() + static_cast<std::ptrdiff_t>(w - count + 1),
                      historyQ.begin() + static_cast<std::ptrdiff_t>(w + 1), 0.0f);
        uint32_t limitBits = 0;
        std::memcpy(&limitBits, &tameLimit, sizeof limitBits);
        const bool tame = largest <= limitBits;
        const bool skipNeighbour = quiet && tame && tameBefore >= NT;
        float* chunkI = outI + produced;
        float* chunkQ = outQ != nullptr ? outQ + produced : nullptr;

        // Which inputs give an output, and where the output lies: the accumulator as
        // ResampleStep runs it, one add of 1 per input.
        int32_t dueCount = 0;
        float a = acc;
        int32_t result = state;
        for (int32_t i = 0; i < count;)
        {
            if (whole && a == 0.0f)
            {
                // The adds 1, 2, ..., R are exact: outputs at every R-th input, then the rest
                // of the chunk (fewer than R inputs) leaves the accumulator at their count.
                const int32_t outputs = (count - i) / period;
                const bool formed = !FirstAlone(atZero, skipNeighbour);
                for (int32_t m = 1; m <= outputs; ++m)
                {
                    const int32_t position = w - (i + m * period - 1);
                    if (formed)
                        FullOutput(atZero, position, chunkI + dueCount,
                                   chunkQ != nullptr ? chunkQ + dueCount : nullptr);
                    due[static_cast<std::size_t>(dueCount++)] = {position, atZero, formed};
                }
                i += outputs * period;
                result = outputs > 0 ? 1 : result;
                if (i < count)
                {
                    a = static_cast<float>(count - i);
                    i = count;
                    result = 0;
                }
                continue;
            }
            // From an accumulator value, the inputs up to the next output are taken in one add
            // when every one of those adds is exact: the last sum, a + J, is a float (below
            // 2^24, where the unit in the last place is at most 1, so every smaller sum is a
            // float as well). J is the first count of adds that reaches R (R - a may round in
            // double precision and J come out one short: then a + J stays below R and the adds
            // go one by one). Otherwise one add per input up to the output.
            // (Where a jump fails once - a fraction with more bits than the sums can keep - it
            // fails again: the rest of the call goes add by add.)
            const double steps =
                jumps ? std::ceil(static_cast<double>(R) - static_cast<double>(a)) : 0.0;
            const double last = static_cast<double>(a) + steps;
            if (steps >= 1.0 && steps <= count - i && last < 16777216.0 &&
                last >= static_cast<double>(R) &&
                static_cast<double>(static_cast<float>(last)) == last)
            {
                a = static_cast<float>(last);
                i += static_cast<int32_t>(steps);
            }
            else
            {
                jumps = jumps && steps > count - i; // only the end of the chunk stopped it
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
            // Short filters wait, to be formed two at a time (the work of one beside the
            // other's); a long one that needs both sums is formed at once, beside the
            // accumulator's chain of adds that goes on (two of them would crowd the cache).
            const int32_t position = w - (i - 1);
            const OutputPlan plan = Plan(R, frac);
            const bool formed = NT > kPairedTaps && !FirstAlone(plan, skipNeighbour);
            if (formed)
                FullOutput(plan, position, chunkI + dueCount,
                           chunkQ != nullptr ? chunkQ + dueCount : nullptr);
            due[static_cast<std::size_t>(dueCount++)] = {position, plan, formed};
            result = 1;
        }
        acc = a;
        state = result;

        Outputs(due.data(), dueCount, skipNeighbour, chunkI, chunkQ);
        produced += dueCount;

        if (tame)
            tameRun = std::min(tameBefore + count, kHistoryCapacity);
        else
        {
            int32_t run = 0;
            for (int32_t i = count - 1; i >= 0; --i, ++run)
                if (!Tame(I + done + i, 1) || (Q != nullptr && !Tame(Q + done + i, 1)))
                    break;
            tameRun = run;
        }
        w = w - count < 0 ? kHistoryCapacity - 1 : w - count;
        done += count;
    }
    return produced;
}

std::size_t PolyphaseResampler::MaxGatedOutputs(std::size_t n, float rateIn, float rateOut)
{
    const float R = rateIn / rateOut;
    if (n == 0 || !UsableRatio(R))
        return 0;
    // The gate stores while the accumulator is below R, one more each time: at most ceil(R) + 1
    // samples per input.
    return n * (static_cast<std::size_t>(std::ceil(R)) + 1);
}

int32_t PolyphaseResampler::GatedBlock(const float* I, const float* Q, int32_t n, float rateIn,
                                       float rateOut, float* outI, float* outQ)
{
    const float R = rateIn / rateOut;
    if (designed == 0 || !UsableRatio(R) || n <= 0)
        return 0;
    const double most = std::ceil(static_cast<double>(R)) + 1.0; // stored per input at most
    int32_t produced = 0;
    const auto oneByOne = [&](int32_t i) {
        // Call by call, as the stages once did: the input, then zeros until refused.
        float oI = 0.0f;
        float oQ = 0.0f;
        int32_t r = GatedFilterStep(I[i], Q != nullptr ? Q[i] : 0.0f, rateIn, rateOut, oI, oQ);
        while (r != 0)
        {
            outI[produced] = oI;
            if (outQ != nullptr)
                outQ[produced] = oQ;
            ++produced;
            r = GatedFilterStep(0.0f, 0.0f, rateIn, rateOut, oI, oQ);
        }
    };
    if (most > kChunk)
    {
        for (int32_t i = 0; i < n; ++i)
            oneByOne(i);
        return produced;
    }
    const auto perInput = static_cast<int32_t>(most);
    for (int32_t i = 0; i < n;)
    {
        // Every stored sample gives an output: they lie at w, w - 1, ... and the windows of a
        // round of them are formed together. A round stays above position 0 and short of
        // reaching round into itself.
        const int32_t room = std::min({w + 1, kChunk, kHistoryCapacity - N});
        if (room < perInput)
        {
            oneByOne(i++);
            continue;
        }
        const int32_t top = w;
        int32_t stored = 0;
        float a = acc;
        for (; i < n && stored + perInput <= room; ++i)
        {
            if (R > a)
            {
                historyI[static_cast<std::size_t>(top - stored)] = I[i];
                historyQ[static_cast<std::size_t>(top - stored)] = Q != nullptr ? Q[i] : 0.0f;
                ++stored;
                a = a + 1.0f;
                while (R > a)
                {
                    historyI[static_cast<std::size_t>(top - stored)] = 0.0f;
                    historyQ[static_cast<std::size_t>(top - stored)] = 0.0f;
                    ++stored;
                    a = a + 1.0f;
                }
            }
            a = a - R; // the call that is refused
        }
        acc = a;
        if (stored > 0)
        {
            const int32_t newest = top - stored + 1;
            const int32_t span = stored - 1 + N;
            table.firBlock(Bank(kPrototype), N,
                           HistoryWindow(historyI.data(), newest, span, scratchI) + stored - 1, 1,
                           stored, outI + produced);
            if (outQ != nullptr)
                table.firBlock(Bank(kPrototype), N,
                               HistoryWindow(historyQ.data(), newest, span, scratchQ) + stored - 1,
                               1, stored, outQ + produced);
            produced += stored;
            w = newest == 0 ? kHistoryCapacity - 1 : newest - 1;
        }
        tameRun = 0; // not tracked here: the next decimating block takes both sums until it is
    }
    return produced;
}

int32_t PolyphaseResampler::GatedFilterStep(float I, float Q, float rateIn, float rateOut,
                                            float& outI, float& outQ)
{
    outI = 0.0f;
    outQ = 0.0f;
    const float R = rateIn / rateOut;
    if (designed == 0 || !UsableRatio(R))
        return 0;
    if (R > acc)
    {
        Store(I, Q);
        acc = acc + 1.0f;
        Sum(Bank(kPrototype), w, N, outI, outQ);
        w = NextWritePosition(w);
        return 1;
    }
    acc = acc - R;
    return 0;
}

} // namespace sigkit
