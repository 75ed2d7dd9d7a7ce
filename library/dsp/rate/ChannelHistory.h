#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sigkit::dsp {

// The recent samples of C channels for a filter stage, oldest first, one buffer per channel.
// Samples are addressed by their absolute index in the stage's input (the first sample written is
// index 0); the `keep` samples before index 0 read as zeros, so the first outputs of a stage are
// computed over the silence before the signal like every other output. All memory is taken by
// Reset: `keep` samples of window plus room for `block` new ones, twice, so that old samples are
// moved down at most once per `block` samples written.
class ChannelHistory
{
public:
    // Result: false when the sizes are not positive or too large (nothing usable then).
    bool Reset(int32_t channels, int32_t keep, int32_t block);
    // Back to the state after Reset: zeros before index 0, nothing written.
    void Clear();

    // Index one past the newest sample.
    int64_t End() const { return base + fill; }
    // How many samples can be written now (at least `block` after Discard of all but `keep`).
    int32_t Room() const { return capacity - fill; }

    // n samples of each channel, in[c][i·stride], i = 0 .. n-1; n <= Room().
    void Write(const float* const* in, std::ptrdiff_t stride, int32_t n);
    // n zeros in every channel; n <= Room().
    void WriteZeros(int32_t n);
    // Where channel c's next sample goes, for writers that fill the channels themselves and then
    // Commit the count (n <= Room()).
    float* Tail(int32_t c)
    {
        return data.data() + static_cast<std::size_t>(c) * static_cast<std::size_t>(capacity) +
               static_cast<std::size_t>(fill);
    }
    void Commit(int32_t n) { fill += n; }
    // Sample `index` of channel c and those after it (index >= End() - the samples held).
    const float* At(int32_t c, int64_t index) const
    {
        return data.data() + static_cast<std::size_t>(c) * static_cast<std::size_t>(capacity) +
               static_cast<std::size_t>(index - base);
    }
    // Samples before `index` are no longer needed; they are dropped once that frees `block`
    // or more.
    void Discard(int64_t index);

private:
    std::vector<float> data;
    int32_t channels = 0;
    int32_t capacity = 0;
    int32_t block = 0;
    int32_t keep = 0;
    int64_t base = 0; // index of each buffer's first sample
    int32_t fill = 0; // samples held per channel
};

} // namespace sigkit::dsp
