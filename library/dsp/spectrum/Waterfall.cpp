#include "dsp/spectrum/Waterfall.h"

#include "dsp/spectrum/Decibels.h"

#include <algorithm>
#include <cmath>

namespace sigkit {

namespace {

constexpr int32_t kMinSize = 32;
constexpr int32_t kMaxSize = 1 << 20;
constexpr int32_t kMaxRows = 65536;
constexpr int32_t kMaxColumns = 65536;
constexpr uint64_t kMaxCells = uint64_t{1} << 26;
// Transforms a row averages from which they no longer overlap.
constexpr uint64_t kWholeHopRows = 8;

bool PowerOfTwo(int32_t v)
{
    return v > 0 && (v & (v - 1)) == 0;
}

} // namespace

double Spectra::BinHz(int32_t i) const
{
    const double width = BinWidthHz();
    return complex ? (i - fftSize / 2) * width : i * width;
}

double Spectra::IndependentAverages() const
{
    if (transforms == 0 || fftSize <= 0)
        return 0.0;
    const auto size = static_cast<double>(fftSize);
    const double frames = static_cast<double>(framesPut);
    const double halves = frames > size ? (frames - size) / (size / 2.0) + 1.0 : 1.0;
    return std::min(static_cast<double>(transforms), halves);
}

int32_t Spectra::BinAt(double hz) const
{
    const double width = BinWidthHz();
    if (!(width > 0.0) || averageDb.empty())
        return 0;
    const double index = std::nearbyint((hz - BinHz(0)) / width);
    return static_cast<int32_t>(std::clamp(index, 0.0, static_cast<double>(Bins() - 1)));
}

Waterfall::Waterfall(const WaterfallSetup& given) : setup(given)
{
    const bool shapeOk = std::isfinite(setup.rate) && setup.rate > 0.0 &&
                         PowerOfTwo(setup.fftSize) && setup.fftSize >= kMinSize &&
                         setup.fftSize <= kMaxSize && setup.rows >= 2 && setup.rows <= kMaxRows &&
                         setup.columns >= 1 && setup.columns <= kMaxColumns &&
                         static_cast<uint64_t>(setup.rows) * setup.columns <= kMaxCells;
    if (!shapeOk)
        return;
    n = setup.fftSize;
    bins = setup.complex ? n : n / 2 + 1;
    const double top = setup.rate / 2.0;
    const double bottom = setup.complex ? -setup.rate / 2.0 : 0.0;
    double low = std::isnan(setup.lowHz) ? bottom : setup.lowHz;
    double high = std::isnan(setup.highHz) ? top : setup.highHz;
    low = std::clamp(low, bottom, top);
    high = std::clamp(high, bottom, top);
    if (!(high > low))
        return;
    setup.lowHz = low;
    setup.highHz = high;

    // Half-overlapped transforms, closer ones when the rows are shorter than half a transform,
    // none overlapping when rows hold 8 transforms or more.
    const uint64_t half = static_cast<uint64_t>(n / 2);
    hop = half;
    if (setup.frames != kUnknownFrames)
    {
        const uint64_t perRow = setup.frames / static_cast<uint64_t>(setup.rows);
        hop = perRow >= kWholeHopRows * static_cast<uint64_t>(n)
                  ? static_cast<uint64_t>(n)
                  : std::clamp<uint64_t>(perRow, 1, half);
    }
    framesPerRow = 1;
    if (setup.frames == kUnknownFrames)
        hop = 1;
    rowCapacity = setup.frames != kUnknownFrames ? setup.rows : (setup.rows & ~1);

    window = std::make_unique<SpectrumWindow>(n);
    if (setup.complex)
        complexPlan = std::make_unique<FftPlan>(n);
    else
        realPlan = std::make_unique<RealFftPlan>(n);
    // A tone of magnitude A at a bin's centre gives |X| = A·Σw (complex), A·Σw / 2 (real).
    powerScale = 1.0 / (window->sum * window->sum);
    if (!setup.complex)
        powerScale *= 4.0;

    const auto size = static_cast<std::size_t>(n);
    historyRe = fft::AlignedFloats(size);
    historyIm = fft::AlignedFloats(size);
    frameRe = fft::AlignedFloats(size);
    frameIm = fft::AlignedFloats(size);
    outRe = fft::AlignedFloats(size + 1);
    outIm = fft::AlignedFloats(size + 1);
    const auto binCount = static_cast<std::size_t>(bins);
    sum.assign(binCount, 0.0);
    sumSquares.assign(binCount, 0.0);
    rowSum.assign(binCount, 0.0);
    rowPeak.assign(binCount, 0.0);
    rowPower.assign(static_cast<std::size_t>(setup.rows) * setup.columns, 0.0f);
    rowCount.assign(static_cast<std::size_t>(setup.rows), 0);
    MapColumns();
    valid = true;
}

void ColumnBins(double rate, bool complex, int32_t fftSize, double lowHz, double highHz,
                int32_t columns, std::vector<int32_t>& first, std::vector<int32_t>& last)
{
    const int32_t bins = complex ? fftSize : fftSize / 2 + 1;
    const double width = rate / fftSize;
    const double origin = complex ? -(fftSize / 2) * width : 0.0; // offset of bin 0
    const double step = (highHz - lowHz) / columns;
    first.resize(static_cast<std::size_t>(std::max(columns, 0)));
    last.resize(first.size());
    for (int32_t c = 0; c < columns; ++c)
    {
        const double start = lowHz + c * step;
        const double end = lowHz + (c + 1) * step;
        // Bins whose centres lie in [start, end).
        double lo = std::ceil((start - origin) / width);
        double hi = std::ceil((end - origin) / width) - 1.0;
        if (hi < lo)
            lo = hi = std::nearbyint((0.5 * (start + end) - origin) / width);
        const double top = bins - 1;
        first[static_cast<std::size_t>(c)] = static_cast<int32_t>(std::clamp(lo, 0.0, top));
        last[static_cast<std::size_t>(c)] = static_cast<int32_t>(std::clamp(hi, 0.0, top));
    }
}

void Waterfall::MapColumns()
{
    ColumnBins(setup.rate, setup.complex, n, setup.lowHz, setup.highHz, setup.columns, columnFirst,
               columnLast);
}

void Waterfall::Put(const float* samples, std::size_t frames)
{
    if (!valid || samples == nullptr)
        return;
    const auto size = static_cast<uint64_t>(n);
    const std::size_t stride = setup.complex ? 2 : 1;
    while (frames > 0)
    {
        // Up to the end of the next transform, into the ring (in two runs where it wraps).
        const auto take =
            static_cast<std::size_t>(std::min<uint64_t>(frames, nextStart + size - received));
        std::size_t at = static_cast<std::size_t>(received % size);
        std::size_t done = 0;
        while (done < take)
        {
            const std::size_t run = std::min(take - done, static_cast<std::size_t>(size) - at);
            const float* in = samples + done * stride;
            float* re = historyRe.data() + at;
            if (setup.complex)
            {
                float* im = historyIm.data() + at;
                for (std::size_t i = 0; i < run; ++i)
                {
                    re[i] = in[2 * i];
                    im[i] = in[2 * i + 1];
                }
            }
            else
                std::copy(in, in + run, re);
            done += run;
            at = 0;
        }
        samples += take * stride;
        frames -= take;
        received += take;
        if (received == nextStart + size)
        {
            Transform();
            nextStart += hop;
        }
    }
}

void Waterfall::Transform()
{
    OpenRow(RowOf(nextStart));
    // The ring holds samples nextStart .. nextStart + n - 1, the oldest at nextStart mod n: the
    // frame is its two runs, oldest first.
    const auto size = static_cast<std::size_t>(n);
    const auto oldest = static_cast<std::size_t>(nextStart % size);
    const float* w = window->w.data();
    const std::size_t first = size - oldest;
    for (std::size_t j = 0; j < first; ++j)
        frameRe[j] = historyRe[oldest + j] * w[j];
    for (std::size_t j = first; j < size; ++j)
        frameRe[j] = historyRe[j - first] * w[j];
    if (setup.complex)
    {
        for (std::size_t j = 0; j < first; ++j)
            frameIm[j] = historyIm[oldest + j] * w[j];
        for (std::size_t j = first; j < size; ++j)
            frameIm[j] = historyIm[j - first] * w[j];
        complexPlan->Forward(frameRe.data(), frameIm.data(), outRe.data(), outIm.data());
    }
    else
        realPlan->Forward(frameRe.data(), outRe.data(), outIm.data());
    Accumulate();
    ++openCount;
    ++transformIndex;
}

void Waterfall::Accumulate()
{
    // Power per bin in frequency order (I/Q: the negative half first), into the sums over the
    // recording and the open row.
    const auto add = [this](std::size_t i, std::size_t k, double scale) {
        const double re = outRe[k];
        const double im = outIm[k];
        const double p = (re * re + im * im) * scale;
        sum[i] += p;
        sumSquares[i] += p * p;
        rowSum[i] += p;
    };
    const auto count = static_cast<std::size_t>(bins);
    if (setup.complex)
    {
        const std::size_t half = count / 2;
        for (std::size_t i = 0; i < half; ++i)
            add(i, i + half, powerScale);
        for (std::size_t i = half; i < count; ++i)
            add(i, i - half, powerScale);
    }
    else
    {
        // 0 Hz and rate/2 have no mirror image to fold in.
        add(0, 0, powerScale * 0.25);
        for (std::size_t k = 1; k + 1 < count; ++k)
            add(k, k, powerScale);
        add(count - 1, count - 1, powerScale * 0.25);
    }
}

int64_t Waterfall::RowOf(uint64_t frameStart) const
{
    const uint64_t centre = frameStart + static_cast<uint64_t>(n / 2);
    if (setup.frames == kUnknownFrames)
        return static_cast<int64_t>(centre / framesPerRow);
    if (setup.frames == 0)
        return 0;
    uint64_t scaled = 0;
    uint64_t row = 0;
    if (!__builtin_mul_overflow(centre, static_cast<uint64_t>(setup.rows), &scaled))
        row = scaled / setup.frames;
    else
        row = static_cast<uint64_t>(static_cast<long double>(centre) * setup.rows / setup.frames);
    return static_cast<int64_t>(std::min<uint64_t>(row, static_cast<uint64_t>(setup.rows - 1)));
}

void Waterfall::OpenRow(int64_t row)
{
    if (row == openRow)
        return;
    CloseRow();
    while (row >= rowCapacity)
    {
        MergeRows();
        row = RowOf(nextStart);
    }
    openRow = row;
}

void Waterfall::CloseRow()
{
    if (openRow < 0 || openCount == 0)
        return;
    const double count = openCount;
    for (std::size_t i = 0; i < rowSum.size(); ++i)
    {
        rowSum[i] /= count;
        rowPeak[i] = std::max(rowPeak[i], rowSum[i]);
    }
    float* cells = rowPower.data() + static_cast<std::size_t>(openRow) * setup.columns;
    for (std::size_t c = 0; c < columnFirst.size(); ++c)
    {
        double strongest = 0.0;
        for (int32_t b = columnFirst[c]; b <= columnLast[c]; ++b)
            strongest = std::max(strongest, rowSum[static_cast<std::size_t>(b)]);
        cells[c] = static_cast<float>(strongest);
    }
    rowCount[static_cast<std::size_t>(openRow)] = openCount;
    std::fill(rowSum.begin(), rowSum.end(), 0.0);
    openCount = 0;
    openRow = -1;
}

void Waterfall::MergeRows()
{
    // Neighbouring rows become one, each weighted by the transforms it holds.
    const auto columns = static_cast<std::size_t>(setup.columns);
    const auto pairs = static_cast<std::size_t>(rowCapacity / 2);
    for (std::size_t r = 0; r < pairs; ++r)
    {
        const double a = rowCount[2 * r];
        const double b = rowCount[2 * r + 1];
        const float* x = rowPower.data() + 2 * r * columns;
        const float* y = x + columns;
        float* out = rowPower.data() + r * columns;
        for (std::size_t c = 0; c < columns; ++c)
            out[c] = a + b > 0.0 ? static_cast<float>((x[c] * a + y[c] * b) / (a + b)) : 0.0f;
        rowCount[r] = rowCount[2 * r] + rowCount[2 * r + 1];
    }
    std::fill(rowPower.begin() + static_cast<std::ptrdiff_t>(pairs * columns), rowPower.end(),
              0.0f);
    std::fill(rowCount.begin() + static_cast<std::ptrdiff_t>(pairs), rowCount.end(), 0u);
    framesPerRow *= 2;
    // Transforms for the rows to come: as far apart as a row is long, up to half overlapped, and
    // not overlapping once rows are long enough.
    const auto size = static_cast<uint64_t>(n);
    hop = framesPerRow >= kWholeHopRows * size ? size : std::min(framesPerRow, size / 2);
}

Spectra Waterfall::Finish()
{
    Spectra out;
    if (!valid)
        return out;
    // Shorter than one transform: that transform, padded with zeros (the ring beyond is zero).
    if (transformIndex == 0 && received > 0)
    {
        nextStart = 0;
        Transform();
    }
    CloseRow();

    out.rate = setup.rate;
    out.complex = setup.complex;
    out.fftSize = n;
    out.enbwBins = window->enbwBins;
    out.lowHz = setup.lowHz;
    out.highHz = setup.highHz;
    out.columns = setup.columns;
    out.framesPut = received;
    out.framesPerRow = setup.frames != kUnknownFrames
                           ? static_cast<double>(setup.frames) / setup.rows
                           : static_cast<double>(framesPerRow);
    out.transforms = transformIndex;

    const auto binCount = static_cast<std::size_t>(bins);
    out.averageDb.assign(binCount, kSilenceDb);
    out.averagePower.assign(binCount, 0.0);
    out.rowPeakDb.assign(binCount, kSilenceDb);
    out.variation.assign(binCount, 0.0f);
    if (transformIndex > 0)
    {
        const double count = static_cast<double>(transformIndex);
        for (std::size_t i = 0; i < binCount; ++i)
        {
            const double mean = sum[i] / count;
            out.averagePower[i] = mean;
            out.averageDb[i] = PowerToDb(mean);
            out.rowPeakDb[i] = PowerToDb(rowPeak[i]);
            const double spread = std::sqrt(std::max(0.0, sumSquares[i] / count - mean * mean));
            out.variation[i] = mean > 0.0 ? static_cast<float>(spread / mean) : 0.0f;
        }
    }

    // Rows in use: all for a known length, those filled for a stream. A row that no transform
    // reached (the first and last of a very short recording) shows its nearest filled one.
    int32_t rows = 0;
    for (int32_t r = 0; r < setup.rows; ++r)
        if (rowCount[static_cast<std::size_t>(r)] != 0)
            rows = r + 1;
    if (setup.frames != kUnknownFrames && rows > 0)
        rows = setup.rows;
    out.rows = rows;
    const auto columns = static_cast<std::size_t>(setup.columns);
    out.waterfall.assign(static_cast<std::size_t>(rows) * columns, kSilenceDb);
    // The filled row at or before each row, and at or after it.
    std::vector<int32_t> before(static_cast<std::size_t>(rows), -1);
    std::vector<int32_t> after(static_cast<std::size_t>(rows), -1);
    for (int32_t r = 0, last = -1; r < rows; ++r)
        before[static_cast<std::size_t>(r)] = last =
            rowCount[static_cast<std::size_t>(r)] != 0 ? r : last;
    for (int32_t r = rows - 1, next = -1; r >= 0; --r)
        after[static_cast<std::size_t>(r)] = next =
            rowCount[static_cast<std::size_t>(r)] != 0 ? r : next;
    for (int32_t r = 0; r < rows; ++r)
    {
        const int32_t b = before[static_cast<std::size_t>(r)];
        const int32_t a = after[static_cast<std::size_t>(r)];
        const int32_t from = b < 0 ? a : (a < 0 || r - b <= a - r ? b : a);
        if (from < 0)
            continue;
        const float* cells = rowPower.data() + static_cast<std::size_t>(from) * columns;
        for (std::size_t c = 0; c < columns; ++c)
            out.waterfall[static_cast<std::size_t>(r) * columns + c] = PowerToDb(cells[c]);
    }
    valid = false; // one result per pass
    return out;
}

} // namespace sigkit
