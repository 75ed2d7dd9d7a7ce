#pragma once

#include "stages/BlockStage.h"
#include "stages/StreamInfo.h"
#include "stages/filters/PhaseOscillator.h"

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace sigkit {

// The stages that shift a stream and change its rate or band (ReSampl, FreqConv, AM_Demod): the
// block layer, the oscillator that moves "Fn" to 0 Hz at the rate "Fd", the parameters they
// share, and the report: port 1 gives it, port 2 the output collected so far.
class StreamStage : public BlockStage
{
public:
    StreamStage();
    ~StreamStage() override;

    // Port 0 as the block layer; it also readies the report.
    int32_t Get(int32_t port, const void** block, int32_t* bytes) override;

    // Parameters, also set directly by the configuration.
    float Fd = 44100.0f; // Hz, input rate
    float Fn = 1850.0f;  // Hz, moved to 0 Hz
    float Kamp = 1.0f;   // gain
    int32_t quality = 0; // "Low" 0, "Medium" 1, "High" 2

protected:
    // A number parameter: its name and the field it is read into.
    struct NumberParam
    {
        const char* name;
        float* field;
    };
    // The names every such stage has ("ModeInp", "Fd", "Fn", "Kamp", "Quality") and the stage's
    // own numbers. Result: false for a name that is neither.
    bool SetStreamParam(const char* name, const char* value,
                        std::initializer_list<NumberParam> numbers);

    // StartBlocks and the oscillator's phase back to 0.
    void StartStream(int32_t startupOutputs)
    {
        StartBlocks(startupOutputs);
        oscillator.Reset();
    }
    // The frequency and rate written into the report.
    virtual float ReportFrequency() const = 0;
    virtual float ReportRate() const { return Fd; }

    // Moves the pairs down in frequency by f at the rate fs, in place: the oscillator's phases
    // for the whole part, their sines and cosines rounded to float, and the mixer.
    void ShiftDown(double fs, double f, float* I, float* Q, int32_t pairs);
    // Room for the oscillator's phases of a part (kPart), for kernels that step it themselves.
    double* PhaseScratch() { return phases.data(); }
    // Outputs that a piece of a part may give: a part's worth, or all those of one input at the
    // highest interpolation. The stages' arrays for a piece's outputs hold this many.
    static const std::size_t kPieceOutputs;
    // Runs step(at, n) over the pairs in pieces whose outputs, at most `outputsPerInput` each,
    // fit kPieceOutputs.
    template <typename Step>
    static void InPieces(int32_t pairs, std::size_t outputsPerInput, Step step)
    {
        const auto piece =
            static_cast<int32_t>(std::max<std::size_t>(1, kPieceOutputs / outputsPerInput));
        for (int32_t at = 0; at < pairs; at += piece)
            step(at, std::min(piece, pairs - at));
    }

    PhaseOscillator oscillator;

private:
    int32_t GetPort(int32_t port, const void** block, int32_t* bytes) override;

    int32_t reportReady = 0;
    std::vector<double> phases; // the oscillator's phases, sines and cosines of a part
    std::vector<float> sines;
    std::vector<float> cosines;
    StreamInfo report;
};

} // namespace sigkit
