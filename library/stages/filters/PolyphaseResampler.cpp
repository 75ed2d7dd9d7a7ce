#include "stages/filters/PolyphaseResampler.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>

namespace sigkit {

namespace {

// Outputs between phases are formed two at a time up to this many taps; longer ones one at a
// time (two of them would crowd the cache).
constexpr int32_t kPairedTaps = 512;

} // namespace

PolyphaseResampler::PolyphaseResampler()
    : scheduled(static_cast<std::size_t>(kPart)), due(static_cast<std::size_t>(kPart)),
      table(kernels::Active())
{
}

bool PolyphaseResampler::UsableRatio(float R)
{
    return std::isfinite(R) && R > 0.0f && R * kMaxUpRatio >= 1.0f;
}

int32_t PolyphaseResampler::DesignBank(float rateIn, float rateOut, float beta, FilterWindow window,
                                       int32_t length)
{
    N = bank.Design(rateIn, rateOut, beta, window, length, true);
    NT = N > 0 ? N + PolyphaseBank::kPhaseExtra - 1 : 0;
    // The first windows of the phases reach [0, N + 8).
    history.Clear(N > 0 ? N + PolyphaseBank::kPhaseExtra : 0);
    state = 0;
    acc = 0.0f;
    tameRun = kHistoryCapacity; // all zeros
    return N;
}

std::size_t PolyphaseResampler::MaxOutputs(std::size_t n, float rateIn, float rateOut)
{
    const float R = rateIn / rateOut;
    if (n == 0 || !UsableRatio(R))
        return 0;
    if (!(1.0f > R))
        return schedule::MostDue(n, R);
    // Interpolating: an input leaves the accumulator below R, so the next one gives at most
    // floor(1 / R) + 1 outputs; ceil(1 / R) + 2 leaves room for the roundings. Over many
    // inputs: every output takes R from the accumulator, every input adds 1, each rounding
    // (below 2^-24: the accumulator stays below 2) can add at most that, and R is at least
    // 2^-12, so the outputs stay below (1 + n·(1 + 2^-24)) / (R·(1 - 2^-12)).
    const std::size_t perInput = n * (static_cast<std::size_t>(std::ceil(1.0f / R)) + 2);
    const double total = std::floor((static_cast<double>(n) + 1.0) * (1.0 + 0x1p-24) /
                                    (static_cast<double>(R) * (1.0 - 0x1p-12))) +
                         1.0;
    return std::min(perInput, static_cast<std::size_t>(total));
}

void PolyphaseResampler::Store(float I, float Q)
{
    history.I[static_cast<std::size_t>(history.w)] = I;
    history.Q[static_cast<std::size_t>(history.w)] = Q;
    const float limit = bank.TameLimit();
    const bool tame = std::fabs(I) <= limit && std::fabs(Q) <= limit;
    tameRun = tame ? std::min(tameRun + 1, kHistoryCapacity) : 0;
}

bool PolyphaseResampler::Tame(const float* x, int32_t n) const
{
    // On the bits: the magnitude of a float orders as its bit pattern without the sign, and an
    // infinity or a NaN lies above every finite value.
    uint32_t limit = 0;
    const float tameLimit = bank.TameLimit();
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

void PolyphaseResampler::FirstOutput(const OutputPlan& plan, int32_t position, float* outI,
                                     float* outQ)
{
    const float* taps = bank.Phase(plan.phase);
    *outI = table.dot(taps, history.WindowI(position, plan.length), plan.length);
    *outQ = table.dot(taps, history.WindowQ(position, plan.length), plan.length);
}

int32_t PolyphaseResampler::InterpolateStep(float I, float Q, float R, float& outI, float& outQ)
{
    // After a 2 the same input serves again.
    if (state != 2)
    {
        Store(I, Q);
        acc = acc + 1.0f;
    }
    if (acc < R)
    {
        state = 0;
        history.w = NextWritePosition(history.w);
        return 0;
    }
    const float frac = std::min(1.0f, acc - R);
    acc = frac;
    // Between phases p and p + 1 at t; p = 8 comes only with t = 0: the phase-8 sum.
    int32_t p = 0;
    float t = 0.0f;
    schedule::PhaseAndWeight(frac, p, t);
    float sums[4];
    table.dotPair(bank.Phase(p), bank.Phase(p + 1), history.WindowI(history.w, NT),
                  history.WindowQ(history.w, NT), NT, sums);
    // sums: A.I, B.I, A.Q, B.Q.
    outI = sums[0] + (sums[1] - sums[0]) * t;
    outQ = sums[2] + (sums[3] - sums[2]) * t;
    if (acc >= R)
    {
        state = 2;
        return 2;
    }
    state = 1;
    history.w = NextWritePosition(history.w);
    return 1;
}

int32_t PolyphaseResampler::ResampleStep(float I, float Q, float rateIn, float rateOut, float& outI,
                                         float& outQ)
{
    const float R = rateIn / rateOut;
    if (N == 0 || !UsableRatio(R))
        return 0;
    if (1.0f > R)
        return InterpolateStep(I, Q, R, outI, outQ);
    // Decimating: one output every R inputs.
    Store(I, Q);
    acc = acc + 1.0f;
    state = acc < R ? 0 : 1;
    if (state != 0)
    {
        const float frac = acc - R; // how far the output instant lies before the newest input
        acc = frac;
        const OutputPlan plan = schedule::Plan(R, frac, N, NT);
        if (FirstAlone(plan, false))
            FirstOutput(plan, history.w, &outI, &outQ);
        else
            FullOutput(plan, history.w, &outI, &outQ);
    }
    history.w = NextWritePosition(history.w);
    return state;
}

void PolyphaseResampler::FullOutput(const OutputPlan& plan, int32_t position, float* outI,
                                    float* outQ)
{
    const float t = plan.weight;
    if (plan.neighbourIsPhase)
    {
        // Phases p and p + 1 over the same window: A.I, B.I (and A.Q, B.Q).
        float sums[4];
        const float* windowQ = outQ != nullptr ? history.WindowQ(position, NT) : nullptr;
        table.dotPair(bank.Phase(plan.phase), bank.Phase(plan.phase + 1),
                      history.WindowI(position, NT), windowQ, NT, sums);
        *outI = sums[0] + (sums[1] - sums[0]) * t;
        if (outQ != nullptr)
            *outQ = sums[2] + (sums[3] - sums[2]) * t;
        return;
    }
    // Phase 0 over N taps at this window (A) and the one a sample older (B): the block filter
    // gives B first (its window lies higher), then A.
    float sums[2];
    const float* windowI = history.WindowI(position, N + 1);
    table.firBlock(bank.Phase(0), N, windowI + 1, 1, 2, sums);
    *outI = sums[1] + (sums[0] - sums[1]) * t;
    if (outQ != nullptr)
    {
        const float* windowQ = history.WindowQ(position, N + 1);
        table.firBlock(bank.Phase(0), N, windowQ + 1, 1, 2, sums);
        *outQ = sums[1] + (sums[0] - sums[1]) * t;
    }
}

void PolyphaseResampler::TwoOutputs(const Due* pair, float* outI, float* outQ)
{
    const float* a[2] = {bank.Phase(pair[0].plan.phase), bank.Phase(pair[1].plan.phase)};
    const float* b[2] = {bank.Phase(pair[0].plan.phase + 1), bank.Phase(pair[1].plan.phase + 1)};
    const float* x[2] = {history.I.data() + pair[0].position, history.I.data() + pair[1].position};
    const float* y[2] = {history.Q.data() + pair[0].position, history.Q.data() + pair[1].position};
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
    const float* taps = bank.Phase(plan.phase);
    const int32_t newest = first[count - 1].position; // the lowest of the windows
    const int32_t offset = first[0].position - newest;
    const int32_t span = offset + plan.length;
    table.firBlock(taps, plan.length, history.WindowI(newest, span) + offset, stride, count, outI);
    if (outQ != nullptr)
        table.firBlock(taps, plan.length, history.WindowQ(newest, span) + offset, stride, count,
                       outQ);
}

int32_t PolyphaseResampler::FirstSumRun(const Due* list, int32_t k, int32_t count,
                                        bool skipNeighbour, int32_t& stride) const
{
    const OutputPlan& plan = list[k].plan;
    int32_t end = k + 1;
    stride = 0;
    while (end < count)
    {
        const OutputPlan& next = list[end].plan;
        const int32_t gap = list[end - 1].position - list[end].position;
        if (!FirstAlone(next, skipNeighbour) || next.phase != plan.phase ||
            next.length != plan.length || (stride != 0 && gap != stride) ||
            list[k].position - list[end].position + plan.length > kHistoryCapacity)
            break;
        stride = gap;
        ++end;
    }
    return end;
}

void PolyphaseResampler::Outputs(const Due* list, int32_t count, bool skipNeighbour, float* outI,
                                 float* outQ)
{
    // With weight 0 the output A + (B - A)·0 is A itself, provided B - A is finite and A is not
    // -0.0: skipNeighbour vouches for both (tame samples, default floating-point environment).
    for (int32_t k = 0; k < count;)
    {
        float* qk = outQ != nullptr ? outQ + k : nullptr;
        const OutputPlan& plan = list[k].plan;
        if (!FirstAlone(plan, skipNeighbour))
        {
            // Two neighbouring short outputs that both interpolate between phases are formed
            // together (unless a window wraps: each would need the scratch).
            if (NT <= kPairedTaps && k + 1 < count &&
                !FirstAlone(list[k + 1].plan, skipNeighbour) && plan.neighbourIsPhase &&
                list[k + 1].plan.neighbourIsPhase && list[k].position + NT <= kHistoryCapacity &&
                list[k + 1].position + NT <= kHistoryCapacity)
            {
                TwoOutputs(list + k, outI + k, qk);
                k += 2;
                continue;
            }
            FullOutput(plan, list[k].position, outI + k, qk);
            ++k;
            continue;
        }
        // A run of first sums of one filter whose windows lie equally far apart shares the loads
        // of its taps.
        int32_t stride = 0;
        const int32_t end = FirstSumRun(list, k, count, skipNeighbour, stride);
        FirstSums(plan, list + k, end - k, stride, outI + k, qk);
        k = end;
    }
}

int32_t PolyphaseResampler::DecimateChunk(const float* I, const float* Q, int32_t count, float R,
                                          schedule::Accumulator& accumulator, float* outI,
                                          float* outQ)
{
    const int32_t w = history.w;
    const int32_t tameBefore = tameRun;
    uint32_t largest = table.storeReversed(I, count, history.I.data() + w);
    if (Q != nullptr)
        largest = std::max(largest, table.storeReversed(Q, count, history.Q.data() + w));
    else
        std::fill(history.Q.begin() + (w - count + 1), history.Q.begin() + (w + 1), 0.0f);
    const float tameLimit = bank.TameLimit();
    uint32_t limitBits = 0;
    std::memcpy(&limitBits, &tameLimit, sizeof limitBits);
    const bool tame = largest <= limitBits;
    const bool skipNeighbour = kernels::DefaultFloatEnvironment() && tame && tameBefore >= NT;

    // Which inputs give an output, and how each is formed.
    accumulator.acc = acc;
    accumulator.last = state;
    const int32_t outputs = schedule::Schedule(R, count, accumulator, scheduled.data());
    acc = accumulator.acc;
    state = accumulator.last;
    // Outputs at the same fraction (all of them, for a whole ratio) share one plan.
    float planned = -1.0f;
    OutputPlan plan{};
    for (int32_t k = 0; k < outputs; ++k)
    {
        const schedule::Due& next = scheduled[static_cast<std::size_t>(k)];
        if (next.frac != planned)
        {
            plan = schedule::Plan(R, next.frac, N, NT);
            planned = next.frac;
        }
        due[static_cast<std::size_t>(k)] = {w - next.input, plan};
    }
    Outputs(due.data(), outputs, skipNeighbour, outI, outQ);

    if (tame)
        tameRun = std::min(tameBefore + count, kHistoryCapacity);
    else
    {
        int32_t run = 0;
        for (int32_t i = count - 1; i >= 0; --i, ++run)
            if (!Tame(I + i, 1) || (Q != nullptr && !Tame(Q + i, 1)))
                break;
        tameRun = run;
    }
    history.w = w - count < 0 ? kHistoryCapacity - 1 : w - count;
    return outputs;
}

int32_t PolyphaseResampler::ResampleBlock(const float* I, const float* Q, int32_t n, float rateIn,
                                          float rateOut, float* outI, float* outQ)
{
    const float R = rateIn / rateOut;
    if (N == 0 || !UsableRatio(R) || n <= 0)
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
            for (int32_t r = ResampleStep(I[i], q, rateIn, rateOut, oI, oQ); r != 0;
                 r = r == 2 ? ResampleStep(I[i], q, rateIn, rateOut, oI, oQ) : 0)
            {
                outI[produced] = oI;
                if (outQ != nullptr)
                    outQ[produced] = oQ;
                ++produced;
            }
        }
        return produced;
    }
    schedule::Accumulator accumulator; // jumps tried afresh in every call
    for (int32_t done = 0; done < n;)
    {
        // The chunk's samples go to w, w - 1, ... without passing 0, and no window of its outputs
        // reaches round the history into them.
        const int32_t count = std::min({n - done, history.w + 1, kPart, kHistoryCapacity - NT});
        produced +=
            DecimateChunk(I + done, Q != nullptr ? Q + done : nullptr, count, R, accumulator,
                          outI + produced, outQ != nullptr ? outQ + produced : nullptr);
        done += count;
    }
    return produced;
}

} // namespace sigkit
