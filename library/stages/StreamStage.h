#pragma once

#include "stages/Stage.h"
#include "stages/StreamInfo.h"
#include "stages/filters/HilbertSplitter.h"
#include "stages/filters/PhaseOscillator.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace sigkit {

// The block handling shared by the stages that shift a stream and change its rate or band
// (ReSampl, FreqConv, AM_Demod): Put records the caller's block (no copy), Get on port 0 turns
// it into complex samples (real input through the Hilbert splitter, complex input as I/Q pairs,
// an unpaired last value carried into the next block) and hands them to the stage's own
// processing; port 1 gives the report, port 2 the output collected so far.
class StreamStage : public Stage
{
public:
    StreamStage();
    ~StreamStage() override;

    void Stop() override { stopped = 1; }
    int32_t Put(int32_t port, const void* block, int32_t bytes) override;
    int32_t Get(int32_t port, const void** block, int32_t* bytes) override;

    bool IsStopped() const { return stopped != 0; }
    bool IsComplexInput() const { return complexInput != 0; }
    int32_t WarmDone() const { return warmDone; }

    // Complex samples handed to Process at most at a time.
    static constexpr int32_t kGatherPairs = 8192;

protected:
    // Turns the complex samples of a part of the block (pairs of them, I and Q apart; the stage
    // may overwrite both arrays) into output floats with Emit or Claim. Called by Get on port 0.
    virtual void Process(float* I, float* Q, int32_t pairs) = 0;
    // False while the stage takes no input at all (the block stays unread).
    virtual bool TakesInput() const { return true; }
    // The frequency and rate written into the report.
    virtual float ReportFrequency() const = 0;
    virtual float ReportRate() const = 0;

    // Clears what Start clears for every stage: the stopped flag, a pending half pair, the
    // splitter and the oscillator, the start-up state and the output.
    void StartStream();
    // Start-up discarding: true when this output is to be dropped (the first `discard` outputs
    // after Start).
    bool DropWarmup(int32_t discard)
    {
        if (warmDone != 0)
            return false;
        if (++warmCount <= discard)
            return true;
        warmCount = 0;
        warmDone = 1;
        return false;
    }
    // Moves the pairs down in frequency by f at the rate fs, in place: the oscillator's phases
    // for the whole part (one after the other, as it steps), their sines and cosines rounded to
    // float, and the mixer, element by element.
    void ShiftDown(double fs, double f, float* I, float* Q, int32_t pairs);
    // Room for the oscillator's phases of a part (kGatherPairs), for stages that step it in
    // their own kernels.
    double* PhaseScratch() { return phases.data(); }
    // Makes room for `floats` more output values; false when the buffer could not grow.
    bool Reserve(std::size_t floats);
    // The next `floats` output values to be written, or nullptr (and this block's output is
    // dropped) when they do not fit.
    float* Claim(std::size_t floats)
    {
        if (outBuffer.size() - outCount < floats)
        {
            overflowed = true;
            return nullptr;
        }
        float* at = outBuffer.data() + outCount;
        outCount += floats;
        return at;
    }
    // Start-up discarding over a run of outputs: how many of the first `count` are dropped.
    int32_t DropWarmupOf(int32_t count, int32_t discard)
    {
        int32_t dropped = 0;
        while (dropped < count && DropWarmup(discard))
            ++dropped;
        return dropped;
    }
    void Emit(float value)
    {
        if (outCount < outBuffer.size())
            outBuffer[outCount++] = value;
        else
            overflowed = true;
    }
    std::size_t OutputRoom() const { return outBuffer.size() - outCount; }

    int32_t complexInput = 0;
    bool overflowed = false; // this block's output did not fit: it is handed out empty
    std::unique_ptr<HilbertSplitter> splitter;
    PhaseOscillator oscillator;

    const kernels::KernelTable& table;

private:
    // The next part of the put block as complex pairs, in workI and workQ; result: pairs.
    int32_t Gather();

    int32_t stopped = 1;
    int32_t inputPresent = 0;
    int32_t reportReady = 0;
    const float* inBlock = nullptr; // the caller's block (aligned to its floats), not copied
    int32_t inCount = 0;
    int32_t inIndex = -1;
    int32_t pendingHalf = 0;
    float pendingValue = 0.0f;
    int32_t warmCount = 0;
    int32_t warmDone = 0;
    std::size_t outCount = 0;
    std::vector<float> outBuffer; // grows when a block needs more, never shrinks
    std::vector<float> workI;     // the part's complex pairs, kGatherPairs each
    std::vector<float> workQ;
    std::vector<double> phases; // the oscillator's phases, sines and cosines of a part
    std::vector<float> sines;
    std::vector<float> cosines;
    StreamInfo report;
};

// Parameter readers shared by the stages: numbers with the standard text-to-double conversion
// stored as float (non-numbers read as 0, values beyond the float range as infinity); quality
// words "Medium" and "High" to 1 and 2, anything else 0.
float ReadNumber(const char* value);

} // namespace sigkit
