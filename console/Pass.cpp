#include "Pass.h"

#include "ClipCounter.h"
#include "OutputFile.h"
#include "ProcessingModes.h"

#include <cstring>

namespace sigrun {

namespace {

// How the blocks stopped flowing.
enum class PumpEnd
{
    Drained,     // the input has no more samples
    WriteFailed, // the output took a block only in part
};

struct Pumped
{
    PumpEnd end = PumpEnd::Drained;
    int error = 0; // errno of a failed write
    long long bytesIn = 0;
    long long bytesOut = 0;
};

// Every block of the input through the processing block into the output, by pointer and count;
// the running input total is shown after each block. Each turn of the loop ends between blocks,
// where nothing is half done.
Pumped Pump(InputFile& input, ProcessingBlock& block, OutputFile& output, PassProgress& progress,
            ClipCounter* clips)
{
    Pumped pumped;
    const void* in = nullptr;
    int32_t inBytes = 0;
    const void* out = nullptr;
    int32_t outBytes = 0;
    while (input.Next(in, inBytes))
    {
        block.Process(in, inBytes, out, outBytes);
        if (!output.Write(out, outBytes, pumped.error))
        {
            pumped.end = PumpEnd::WriteFailed;
            break;
        }
        if (outBytes > 0)
        {
            pumped.bytesOut += outBytes;
            if (clips != nullptr)
                clips->Count(out, outBytes);
        }
        pumped.bytesIn += inBytes;
        progress.Show(pumped.bytesIn);
    }
    progress.Clear();
    return pumped;
}

void Count(const Pumped& pumped, const WavDescription& in, const WavDescription& out,
           const ClipCounter& clips, PassCounts& counts)
{
    counts.bytesIn = pumped.bytesIn;
    counts.bytesOut = pumped.bytesOut;
    counts.clipped = clips.Clipped();
    const int frameIn = in.channels * (in.bitsPerSample / 8);
    counts.framesIn = frameIn > 0 ? pumped.bytesIn / frameIn : 0;
    counts.framesOut = out.blockAlign > 0 ? pumped.bytesOut / out.blockAlign : 0;
}

} // namespace

int RunPass(const LibraryBinding& binding, const Settings& settings, InputFile& input,
            const char* outputName, PassProgress& progress, PassCounts* counts)
{
    const ModeRow& mode = Mode(settings.mode);
    std::string failure;
    const std::unique_ptr<ProcessingBlock> block =
        mode.start(binding.Family(settings.mode), settings, input.Description(), failure);
    if (block == nullptr)
        return Fail(kExitFailed, failure);
    for (const auto& [address, name] : {std::pair{binding.writeInit != nullptr, "wav_write_init"},
                                        {binding.writeData != nullptr, "wav_write_data"},
                                        {binding.writeFree != nullptr, "wav_write_free"}})
        if (!address)
            return Missing(name);

    const WavDescription description =
        OutputDescription(settings.mode, settings, input.Description(), outputName);
    OutputFile output(binding);
    int error = 0;
    if (!output.Create(description, error))
        return Fail(kExitFailed,
                    "cannot create " + Quoted(outputName) + ": " + std::strerror(error));

    ClipCounter clips(description.formatTag, description.bitsPerSample);
    const Pumped pumped =
        Pump(input, *block, output, progress, counts != nullptr ? &clips : nullptr);

    // The processing block goes first, then the writing block completes the file's header.
    block->Release();
    int closeError = 0;
    const bool closed = output.Complete(closeError);
    if (pumped.end == PumpEnd::WriteFailed)
        return Fail(kExitFailed, "cannot write " + Quoted(outputName) + ": " +
                                     std::strerror(pumped.error) +
                                     " (the file keeps what was written before)");
    if (!closed)
        return Fail(kExitFailed,
                    "cannot complete " + Quoted(outputName) + ": " + std::strerror(closeError));
    if (counts != nullptr)
        Count(pumped, input.Description(), description, clips, *counts);
    return kExitSuccess;
}

} // namespace sigrun
