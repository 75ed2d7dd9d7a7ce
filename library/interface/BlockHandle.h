#pragma once

#include "sigkit.h"
#include "stages/AudioConvert.h"
#include "stages/BlockStage.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace sigkit {

// What every processing handle holds: the converter between stored samples and floats, one
// processing stage, the blocks they last handed out, and the scratch text in which the
// configuration builds each parameter value.
struct ProcessingBlock
{
    const char* modeText = nullptr; // the record's texts: used only while init runs
    const char* formatText = nullptr;
    std::unique_ptr<AudioConvert> converter;
    std::unique_ptr<BlockStage> stage;
    const void* convBlock = nullptr;
    int32_t convBytes = 0;
    const void* stageBlock = nullptr;
    int32_t stageBytes = 0;
    char valueText[SIGKIT_TEXT_SIZE] = "";
    // Output gathered when a call's output comes in several pieces (a large input block is
    // pumped in slices).
    std::vector<uint8_t> gathered;

    ProcessingBlock();
    virtual ~ProcessingBlock();
    ProcessingBlock(const ProcessingBlock&) = delete;
    ProcessingBlock& operator=(const ProcessingBlock&) = delete;

    // Stored samples in, stored samples out, through converter and stage. Result: 1, or 0 (no
    // output, nothing processed) for a block whose output could pass what one call can count,
    // 2^31 - 1 bytes, and 0 (no output) when its pieces could not be gathered.
    int32_t Pump(const void* in, int32_t inBytes, const void** out, int32_t* outBytes);
    // The most output bytes a call with `inBytes` bytes can give.
    std::size_t MostOutputBytes(int32_t inBytes) const;

private:
    // A slice of input into the converter and the stage.
    void PutSlice(const void* in, int32_t inBytes);
    // The stage's next output into stageBlock; false when it has none left.
    bool StageOutput();
    // That output converted back into convBlock.
    void ConvertOutput();
    // Appends the converted output to what is gathered; false when it could not be held.
    bool Gather();
};

} // namespace sigkit

// The handles named in the public header.
struct BlockHandle final : sigkit::ProcessingBlock
{
    int32_t sampleRate = 0;
    int32_t frequency = 0;
    int32_t outRateOrBand = 0;
    float amplify = 0.0f;
    const char* qualityText = nullptr;
};

struct IqHandle final : sigkit::ProcessingBlock
{
    const char* qualityText = nullptr;
};

struct InvertHandle final : sigkit::ProcessingBlock
{
};
