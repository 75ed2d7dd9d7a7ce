#pragma once

#include "sigkit.h"
#include "stages/AudioConvert.h"
#include "stages/Stage.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace sigkit {

// What every processing handle holds: the converter between stored samples and floats, one
// processing stage, the blocks they last handed out, and the scratch text in which the
// configuration builds each parameter value.
struct ProcessingBlock
{
    const char* modeText = nullptr;   // the record's texts: used only while init runs
    const char* formatText = nullptr;
    std::unique_ptr<AudioConvert> converter;
    std::unique_ptr<Stage> stage;
    const void* convBlock = nullptr;
    int32_t convBytes = 0;
    const void* stageBlock = nullptr;
    int32_t stageBytes = 0;
    char valueText[SIGKIT_TEXT_SIZE] = "";
    // Output gathered when a large input block is pumped in slices.
    std::vector<uint8_t> gathered;
    // Float input that did not sit at float alignment, copied there (at most one slice).
    std::vector<float> aligned;

    ProcessingBlock();
    virtual ~ProcessingBlock();
    ProcessingBlock(const ProcessingBlock&) = delete;
    ProcessingBlock& operator=(const ProcessingBlock&) = delete;

    // Stored samples in, stored samples out, through converter and stage. Always 1.
    int32_t Pump(const void* in, int32_t inBytes, const void** out, int32_t* outBytes);

private:
    // One pass of the chain over at most one slice.
    void PumpOnce(const void* in, int32_t inBytes);
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
