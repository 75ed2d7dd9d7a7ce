#pragma once

#include "stages/SpectrumParams.h"
#include "stages/Stage.h"
#include "stages/filters/HilbertSplitter.h"

#include <cstdint>
#include <limits>
#include <vector>

namespace sigkit {

// Spectral inversion: the output is always interleaved (I, Q) pairs at the input rate.
// Complex input ("ModeInp" "Complex"): each pair (I, Q) leaves as (Q, I), which mirrors the
// spectrum about 0 Hz (Q + jI = j·conj(I + jQ)); "RevIQ" "On" cancels the exchange. Real input
// (any other word): each sample becomes its analytic pair (delayed by 150 samples) with I and Q
// exchanged, the signal's spectrum on the negative-frequency side.
class SpInv final : public Stage
{
public:
    static constexpr int32_t kOutBufferFloats = 153600;
    // The largest output one Get hands out: the most whole pairs whose bytes fit a count.
    static constexpr int32_t kMaxOutFloats = std::numeric_limits<int32_t>::max() / 8 * 2;

    // `outLimitFloats` caps the output of one Get (rounded down to whole pairs, at least one
    // pair); a block with more output is handed out over several Gets.
    explicit SpInv(int32_t outLimitFloats = kMaxOutFloats);

    // "ModeInp", "RevIQ", "ReSampl", "Quality", "Test"; other names are ignored. Only "ModeInp"
    // and "RevIQ" change the processing.
    void SetParam(const char* name, const char* value) override;
    // Runs; clears a pending half pair and the splitter's history. Result: 1.
    int32_t Start() override;
    void Stop() override;
    // Keeps a reference to the caller's floats (any alignment; bytes / 4 whole floats, a
    // negative count as 0) until the next Get. Result: the float count, 0 when stopped.
    int32_t Put(int32_t port, const void* block, int32_t bytes) override;
    // Port 0: processes the block and hands out its output pairs. The output buffer grows when
    // a block needs more than it holds; should it fail to grow, or the output exceed one Get's
    // limit, the block is handed out in parts over the following Gets, nothing dropped.
    int32_t Get(int32_t port, const void** block, int32_t* bytes) override;

    std::size_t OutCapacity() const { return outBuffer.size(); }

private:
    float InputAt(int32_t index) const;
    void Append(float first, float second);
    void ProcessComplex(int32_t limit);
    void ProcessReal(int32_t limit);

    SpectrumParams params;
    int32_t stopped = 1;
    int32_t inputPresent = 0;
    const unsigned char* inBlock = nullptr; // the caller's, not owned
    int32_t inCount = 0;                    // floats in it
    int32_t inIndex = 0;                    // last float consumed; -1 after Put
    HilbertSplitter splitter;
    std::vector<float> realIn; // a part of real input, copied aligned, and its analytic pairs
    std::vector<float> delayed;
    std::vector<float> shifted;
    int32_t outCount = 0; // floats in outBuffer for the current Get
    std::vector<float> outBuffer;
    int32_t outLimit;
    int32_t pendingHalf = 0; // 1 when a complex block ended after the first value of a pair
    float pendingValue = 0.0f;
};

} // namespace sigkit
