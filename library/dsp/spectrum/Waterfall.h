#pragma once

#include "dsp/fft/AlignedFloats.h"
#include "dsp/fft/FftPlan.h"
#include "dsp/fft/RealFftPlan.h"
#include "dsp/spectrum/Window.h"

#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

namespace sigkit {

inline constexpr uint64_t kUnknownFrames = UINT64_MAX;

struct WaterfallSetup
{
    double rate = 0.0;      // Hz
    bool complex = true;    // I/Q pairs (shown -rate/2 .. +rate/2), else real samples (0 .. rate/2)
    int32_t fftSize = 2048; // a power of two, 32 .. 2^20
    int32_t rows = 400;     // waterfall rows wanted (at least 2)
    int32_t columns = 1000; // waterfall columns (at least 1)
    // The frames that will be put, when known: the rows then cover them exactly. When not (a
    // stream), rows start one frame long and are merged in pairs whenever they run out, so that
    // between rows / 2 and rows of them cover what came (a stream of at least rows / 2 frames).
    uint64_t frames = kUnknownFrames;
    // The band shown across the columns, as offsets from the recording's 0 Hz; NaN: the whole
    // band (-rate/2 .. rate/2 for I/Q, 0 .. rate/2 for real samples).
    double lowHz = std::numeric_limits<double>::quiet_NaN();
    double highHz = std::numeric_limits<double>::quiet_NaN();
};

// What a waterfall pass found. Levels are dBFS: a full-scale tone (a complex one of magnitude 1,
// or a real one of amplitude 1) at a bin's centre reads 0 dBFS in that bin; noise reads its power
// in one bin's equivalent noise bandwidth (enbwBins · rate / fftSize Hz).
struct Spectra
{
    double rate = 0.0;
    bool complex = true;
    int32_t fftSize = 0;
    double enbwBins = 0.0;
    double lowHz = 0.0; // the band of the columns (offsets from 0 Hz)
    double highHz = 0.0;
    int32_t columns = 0;
    int32_t rows = 0;             // rows filled (fewer than wanted for a stream, or none)
    std::vector<float> waterfall; // rows × columns dBFS, the first row first in time
    // Per bin, in the order of frequency (BinHz): the mean power over every frame, in dBFS; the
    // strongest row's mean power, in dBFS; and the spread of the frame powers over time (their
    // standard deviation over their mean: 1 for noise, near 0 for a steady carrier well above it).
    std::vector<float> averageDb;
    std::vector<double> averagePower; // the same as power (full scale 1.0)
    std::vector<float> rowPeakDb;
    std::vector<float> variation;
    double framesPerRow = 0.0; // sample frames each row covers (row r starts at r times this)
    uint64_t framesPut = 0;    // sample frames analysed
    uint64_t transforms = 0;   // transforms averaged

    int32_t Bins() const { return static_cast<int32_t>(averageDb.size()); }
    // How many independent spectra the average is worth: transforms closer than half their
    // length share most of their samples, so they count as half-overlapped ones would.
    double IndependentAverages() const;
    // Offset from 0 Hz of bin i.
    double BinHz(int32_t i) const;
    double BinWidthHz() const { return fftSize > 0 ? rate / fftSize : 0.0; }
    // The bin nearest an offset (limited to the bins).
    int32_t BinAt(double hz) const;
    float Cell(int32_t row, int32_t column) const
    {
        return waterfall[static_cast<std::size_t>(row) * static_cast<std::size_t>(columns) +
                         static_cast<std::size_t>(column)];
    }
};

// The bins each of `columns` columns across lowHz .. highHz shows (first and last, inclusive):
// those whose centres the column covers, or the one under its centre when it covers none.
void ColumnBins(double rate, bool complex, int32_t fftSize, double lowHz, double highHz,
                int32_t columns, std::vector<int32_t>& first, std::vector<int32_t>& last);

// A streaming waterfall: frames of fftSize samples, Blackman-Harris windowed, transformed by our
// FFT; their power averaged per row of the picture and over the whole recording. Transforms
// overlap by half (each sample then counts about equally), lie closer together when rows are
// shorter than that, so that every row gets at least one, and follow each other without overlap
// once a row averages 8 transforms or more (the average then gains little from overlap, and a
// long recording is analysed twice as fast). Each transform belongs to the row that holds its
// centre. A column shows the strongest bin (of the row's mean powers)
// among the bins whose centres it covers, so that a narrow carrier keeps its level however many
// bins a column spans; a column narrower than a bin shows the bin under its centre.
//
// Memory: the rows × columns picture, a few arrays of fftSize, fixed when made: the same for a
// recording of any length.
class Waterfall
{
public:
    explicit Waterfall(const WaterfallSetup& setup);
    Waterfall(const Waterfall&) = delete;
    Waterfall& operator=(const Waterfall&) = delete;

    // False when the setup cannot be served (a size not a power of two in range, no rate, an
    // empty band); Put and Finish then do nothing.
    bool Valid() const { return valid; }
    // The transform size and band actually used.
    const WaterfallSetup& Setup() const { return setup; }

    // Samples scaled to full scale 1.0: `frames` I/Q pairs (interleaved) or real samples.
    void Put(const float* samples, std::size_t frames);
    // Completes the last row and the averages. A recording shorter than one transform is
    // analysed as one transform padded with zeros.
    Spectra Finish();

private:
    void Transform();
    void Accumulate();
    // Makes `row` the open row (closing the one before, merging rows when a stream needs more).
    void OpenRow(int64_t row);
    void CloseRow();
    void MergeRows();
    int64_t RowOf(uint64_t frameStart) const;
    void MapColumns();

    WaterfallSetup setup;
    bool valid = false;
    int32_t n = 0;    // transform size
    int32_t bins = 0; // n for I/Q, n / 2 + 1 for real samples
    uint64_t hop = 0; // samples between transform starts
    std::unique_ptr<SpectrumWindow> window;
    std::unique_ptr<FftPlan> complexPlan;
    std::unique_ptr<RealFftPlan> realPlan;
    double powerScale = 0.0; // |X|² to power in full-scale units

    // The last n samples (I and Q apart; Q unused for real samples), a ring.
    fft::AlignedFloats historyRe, historyIm;
    fft::AlignedFloats frameRe, frameIm, outRe, outIm;
    uint64_t received = 0;  // frames put so far
    uint64_t nextStart = 0; // where the next transform starts
    uint64_t transformIndex = 0;

    std::vector<double> sum, sumSquares; // over all transforms
    std::vector<double> rowSum;          // the open row's transforms
    std::vector<double> rowPeak;         // the strongest row mean per bin
    int64_t openRow = -1;
    uint32_t openCount = 0;

    // Columns: the bins each covers, first and last (inclusive).
    std::vector<int32_t> columnFirst, columnLast;
    // Rows as mean powers per column, and the transforms each holds (0: none yet).
    std::vector<float> rowPower;
    std::vector<uint32_t> rowCount;
    int32_t rowCapacity = 0;
    uint64_t framesPerRow = 0; // streams: doubled at each merge
};

} // namespace sigkit
