#include "dsp/filters/FftFilter.h"

#include "dsp/fft/DoubleFft.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace sigkit {

namespace {

// The cost model that picks the shape and the path of a part of a hop, in units of one
// multiply-add of a direct sum. Both transforms and the product between them cost about
// kPassCost per point and radix-4 pass (a radix-8 pass, one and a half) while the arrays stay in
// the nearest caches, and more as they outgrow them (measured on this project's machines; the
// factors of sizes 2^11 .. 2^20).
constexpr double kPassCost = 8.0;
constexpr double kCacheFactor[] = {1.0, 1.1, 1.2, 1.4, 1.75, 3.0, 3.3, 3.6, 4.0, 4.4};
// Hops that divide the callers' block are taken while they cost at most this much more.
constexpr double kFittedPremium = 1.25;

int32_t Log2(int32_t size)
{
    int32_t bits = 0;
    while ((1 << bits) < size)
        ++bits;
    return bits;
}

// A forward and an inverse transform of `size` points with the product between them.
double TransformCost(int32_t size)
{
    const int32_t bits = Log2(size);
    const double passes = bits / 2.0; // the radix-8 pass of the odd powers as one and a half
    const double factor = bits <= 11 ? 1.0 : kCacheFactor[std::min(bits, 20) - 11];
    return kPassCost * passes * size * factor;
}

bool ValidSize(int32_t size, int32_t count)
{
    return size >= FftPlan::kMinSize && size <= FftPlan::kMaxSize && (size & (size - 1)) == 0 &&
           size >= count;
}

// The largest divisor of block that is at most limit (block >= 1, limit >= 1).
int32_t LargestDivisor(int32_t block, int32_t limit)
{
    if (block <= limit)
        return block;
    int32_t best = 1;
    for (int32_t d = 1; static_cast<int64_t>(d) * d <= block; ++d)
    {
        if (block % d != 0)
            continue;
        if (d <= limit)
            best = std::max(best, d);
        if (block / d <= limit)
            best = std::max(best, block / d);
    }
    return best;
}

// What the outputs of one part of a hop cost when they are not a whole hop: the direct sums
// (`direct` per output) or a transform, whichever is less. FftFilter::Emit decides the same way.
double PartCost(int64_t outputs, double direct, double transform)
{
    const double sums = static_cast<double>(outputs) * direct;
    return sums < transform ? sums : transform;
}

// The cost per output of transforms of `size` points with hops of `hop` when every block holds
// `block` samples (0: long blocks), following the blocks round the hops until they end on a hop
// boundary again (or for 64 blocks).
double CostPerOutput(int32_t size, int32_t hop, int32_t block, double direct)
{
    const double transform = TransformCost(size);
    if (block == 0)
        return transform / hop;
    double cost = 0.0;
    int64_t fill = 0; // samples of the current hop received
    int32_t blocks = 0;
    do
    {
        int64_t left = block;
        if (fill > 0)
        {
            const int64_t part = std::min<int64_t>(left, hop - fill);
            cost += PartCost(part, direct, transform);
            left -= part;
            fill = (fill + part) % hop;
        }
        if (fill == 0)
        {
            cost += static_cast<double>(left / hop) * transform;
            fill = left % hop;
            if (fill > 0)
                cost += PartCost(fill, direct, transform);
        }
        ++blocks;
    } while (fill != 0 && blocks < 64);
    return cost / (static_cast<double>(blocks) * block);
}

const fft::FftKernels& VariantOrActive(const fft::FftKernels* variant)
{
    return variant != nullptr ? *variant : fft::Active();
}

// The dot products of the direct sums: those of the given variant, or the stages' own.
const kernels::KernelTable& DotsFor(const fft::FftKernels* variant)
{
    const kernels::KernelTable* table =
        variant != nullptr ? kernels::TableFor(variant->isa) : nullptr;
    return table != nullptr ? *table : kernels::Active();
}

void CopyFloats(float* to, const float* from, int32_t count)
{
    std::memcpy(to, from, static_cast<std::size_t>(count) * sizeof(float));
}

} // namespace

FftFilterShape FftFilter::ChooseShape(int32_t count, const FftFilterOptions& options,
                                      bool complexTaps)
{
    const FftFilterShape none{0, 0};
    if (count < 1 || count > kMaxTaps)
        return none;
    if (options.transformSize != 0 && !ValidSize(options.transformSize, count))
        return none;
    const int32_t block = std::max(options.block, 0);
    const double direct = static_cast<double>(count) * (complexTaps ? 4 : 2);
    // The cheapest shape with the longest hops, and the cheapest whose hops divide the block.
    FftFilterShape longest = none;
    FftFilterShape fitted = none;
    double longestCost = 0.0;
    double fittedCost = 0.0;
    for (int32_t size = FftPlan::kMinSize; size <= FftPlan::kMaxSize; size *= 2)
    {
        if (size < count || (options.transformSize != 0 && size != options.transformSize))
            continue;
        const int32_t hop = size - count + 1;
        const double cost = CostPerOutput(size, hop, block, direct);
        if (longest.hop == 0 || cost < longestCost)
        {
            longest = {size, hop};
            longestCost = cost;
        }
        if (block > 0)
        {
            const int32_t divisor = LargestDivisor(block, hop);
            const double divisorCost = CostPerOutput(size, divisor, block, direct);
            if (fitted.hop == 0 || divisorCost < fittedCost)
            {
                fitted = {size, divisor};
                fittedCost = divisorCost;
            }
        }
    }
    // Blocks that never cut a hop give the bits of one long block: worth a little speed.
    return fitted.hop > 0 && fittedCost <= kFittedPremium * longestCost ? fitted : longest;
}

double FftFilter::EstimatedCost(int32_t count, const FftFilterOptions& options, bool complexTaps)
{
    const FftFilterShape shape = ChooseShape(count, options, complexTaps);
    if (shape.hop == 0)
        return 0.0;
    const double direct = static_cast<double>(count) * (complexTaps ? 4 : 2);
    return CostPerOutput(shape.transformSize, shape.hop, std::max(options.block, 0), direct);
}

FftFilter::FftFilter(const float* taps, int32_t count, const FftFilterOptions& options)
    : FftFilter(taps, nullptr, taps != nullptr, count, options, ChooseShape(count, options))
{
}

FftFilter::FftFilter(const float* tapsRe, const float* tapsIm, int32_t count,
                     const FftFilterOptions& options)
    : FftFilter(tapsRe, tapsIm, tapsRe != nullptr && tapsIm != nullptr, count, options,
                ChooseShape(count, options, true))
{
}

FftFilter::FftFilter(const float* tapsRe, const float* tapsIm, bool given, int32_t count,
                     const FftFilterOptions& options, FftFilterShape shape)
    : N(given && shape.hop > 0 ? count : 0),
      plan(N > 0 ? shape.transformSize : 0, &VariantOrActive(options.variant)),
      table(DotsFor(options.variant))
{
    if (N > 0)
        Design(tapsRe, tapsIm, shape.hop);
}

void FftFilter::Design(const float* tapsRe, const float* tapsIm, int32_t hopSize)
{
    const int32_t L = plan.Size();
    const auto size = static_cast<std::size_t>(L);
    hop = hopSize;
    complexTaps = tapsIm != nullptr;
    directLimit = static_cast<int64_t>(TransformCost(L));

    // The taps' spectrum in double precision, with the inverse transform's 1/L folded in (a power
    // of two: no rounding of its own), each bin rounded once to float.
    std::vector<double> re(size, 0.0);
    std::vector<double> im(size, 0.0);
    for (int32_t j = 0; j < N; ++j)
    {
        re[j] = static_cast<double>(tapsRe[j]);
        im[j] = complexTaps ? static_cast<double>(tapsIm[j]) : 0.0;
    }
    fft::ForwardDouble(re.data(), im.data(), L);
    spectrumRe = fft::AlignedFloats(size);
    spectrumIm = fft::AlignedFloats(size);
    const double scale = 1.0 / static_cast<double>(L);
    for (std::size_t k = 0; k < size; ++k)
    {
        spectrumRe[k] = static_cast<float>(re[k] * scale);
        spectrumIm[k] = static_cast<float>(im[k] * scale);
    }

    // Oldest first: the direct sum of the output at hop position r runs over window[r .. r+N-1].
    reversedRe = fft::AlignedFloats(static_cast<std::size_t>(N));
    for (int32_t j = 0; j < N; ++j)
        reversedRe[j] = tapsRe[N - 1 - j];
    if (complexTaps)
    {
        reversedIm = fft::AlignedFloats(static_cast<std::size_t>(N));
        for (int32_t j = 0; j < N; ++j)
            reversedIm[j] = tapsIm[N - 1 - j];
    }

    // Zeros beyond the hop stay zeros: no sample is ever stored there.
    windowRe = fft::AlignedFloats(size);
    windowIm = fft::AlignedFloats(size);
    workRe = fft::AlignedFloats(size);
    workIm = fft::AlignedFloats(size);
    outRe = fft::AlignedFloats(size);
    outIm = fft::AlignedFloats(size);
}

int32_t FftFilter::Delay() const
{
    return N > 0 ? (N - 1) / 2 : 0;
}

void FftFilter::Reset()
{
    if (N == 0)
        return;
    std::fill(windowRe.data(), windowRe.data() + windowRe.Size(), 0.0f);
    std::fill(windowIm.data(), windowIm.data() + windowIm.Size(), 0.0f);
    fill = 0;
    given = 0;
}

void FftFilter::StepBlock(const float* I, const float* Q, int32_t n, float* yI, float* yQ)
{
    if (I == nullptr || Q == nullptr || yI == nullptr || yQ == nullptr || n < 1)
        return;
    if (N == 0)
    {
        std::fill(yI, yI + n, 0.0f);
        std::fill(yQ, yQ + n, 0.0f);
        return;
    }
    // Every output before this block has been given (given == fill): the outputs of each part
    // are those of its own inputs.
    for (int32_t done = 0; done < n;)
    {
        const int32_t take = std::min(n - done, hop - fill);
        CopyFloats(windowRe.data() + (N - 1) + fill, I + done, take);
        CopyFloats(windowIm.data() + (N - 1) + fill, Q + done, take);
        fill += take;
        Emit(given, fill, yI + done, yQ + done);
        given = fill;
        done += take;
        if (fill == hop)
            NextHop();
    }
}

void FftFilter::NextHop()
{
    // The last N - 1 samples are the history of the next hop.
    std::memmove(windowRe.data(), windowRe.data() + hop,
                 static_cast<std::size_t>(N - 1) * sizeof(float));
    std::memmove(windowIm.data(), windowIm.data() + hop,
                 static_cast<std::size_t>(N - 1) * sizeof(float));
    fill = 0;
    given = 0;
}

void FftFilter::TransformHop()
{
    if (N == 0)
        return;
    // As Transformed(0, hop), then the end of a hop in StepBlock.
    plan.ForwardTimes(windowRe.data(), windowIm.data(), spectrumRe.data(), spectrumIm.data(),
                      workRe.data(), workIm.data());
    plan.Inverse(workRe.data(), workIm.data(), outRe.data(), outIm.data());
    NextHop();
}

void FftFilter::Emit(int32_t from, int32_t to, float* yI, float* yQ)
{
    // A whole hop at once always goes through the transform; a part of one goes wherever it
    // costs less (a rule of sizes alone, the same on every processor).
    const bool wholeHop = from == 0 && to == hop;
    const int64_t sums = static_cast<int64_t>(to - from) * N * (complexTaps ? 4 : 2);
    if (!wholeHop && sums < directLimit)
        Direct(from, to, yI, yQ);
    else
        Transformed(from, to, yI, yQ);
}

void FftFilter::Transformed(int32_t from, int32_t to, float* yI, float* yQ)
{
    const int32_t L = plan.Size();
    if (to < hop)
    {
        // The rest of the hop has not arrived: zeros in its place, which no output up to `to`
        // depends on.
        std::fill(windowRe.data() + (N - 1) + to, windowRe.data() + L, 0.0f);
        std::fill(windowIm.data() + (N - 1) + to, windowIm.data() + L, 0.0f);
    }
    plan.ForwardTimes(windowRe.data(), windowIm.data(), spectrumRe.data(), spectrumIm.data(),
                      workRe.data(), workIm.data());
    plan.Inverse(workRe.data(), workIm.data(), outRe.data(), outIm.data());
    // Position N - 1 + r of the circular convolution is output r of the hop (the first N - 1
    // positions wrap round and are not used).
    CopyFloats(yI, outRe.data() + (N - 1) + from, to - from);
    CopyFloats(yQ, outIm.data() + (N - 1) + from, to - from);
}

void FftFilter::Direct(int32_t from, int32_t to, float* yI, float* yQ)
{
    const float* re = reversedRe.data();
    for (int32_t r = from; r < to; ++r)
    {
        const float* xI = windowRe.data() + r;
        const float* xQ = windowIm.data() + r;
        if (complexTaps)
        {
            const float* im = reversedIm.data();
            yI[r - from] = table.dot(re, xI, N) - table.dot(im, xQ, N);
            yQ[r - from] = table.dot(re, xQ, N) + table.dot(im, xI, N);
        }
        else
        {
            yI[r - from] = table.dot(re, xI, N);
            yQ[r - from] = table.dot(re, xQ, N);
        }
    }
}

} // namespace sigkit
