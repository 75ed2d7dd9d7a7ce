#pragma once

#include "stages/Stage.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

namespace sigtest {

// Feeds a float stream to a started stage in blocks of `blockFloats` (one Put and one port-0 Get
// each) and collects everything it hands out.
inline std::vector<float> RunStage(sigkit::Stage& stage, const std::vector<float>& input,
                                   std::size_t blockFloats = 300)
{
    std::vector<float> output;
    for (std::size_t at = 0; at < input.size(); at += blockFloats)
    {
        const std::size_t n = std::min(blockFloats, input.size() - at);
        stage.Put(0, input.data() + at, static_cast<int32_t>(4 * n));
        const void* block = nullptr;
        int32_t bytes = 0;
        stage.Get(0, &block, &bytes);
        const std::size_t floats = static_cast<std::size_t>(bytes) / 4;
        const std::size_t old = output.size();
        output.resize(old + floats);
        if (floats > 0)
            std::memcpy(output.data() + old, block, 4 * floats);
    }
    return output;
}

// The real parts (even entries) or imaginary parts (odd entries) of interleaved pairs.
inline std::vector<float> Component(const std::vector<float>& iq, std::size_t which)
{
    std::vector<float> out;
    out.reserve(iq.size() / 2);
    for (std::size_t i = which; i < iq.size(); i += 2)
        out.push_back(iq[i]);
    return out;
}

} // namespace sigtest
