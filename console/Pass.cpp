#include "Pass.h"

#include "ClipCounter.h"
#include "OutputFile.h"
#include "Pipeline.h"
#include "ProcessingModes.h"
#include "RecordingCommands.h"
#include "platform/Signals.h"

#include <cerrno>
#include <csignal>
#include <cstring>

namespace sigrun {

namespace {

// Every block of the input through the processing block into the output, by pointer and count;
// the running input total is shown after each block. Each turn of the loop ends between blocks,
// where nothing is half done, and a stop signal ends the loop there.
Pumped Pump(InputFile& input, ProcessingBlock& block, OutputFile& output, PassProgress& progress,
            ClipCounter* clips)
{
    Pumped pumped;
    const void* in = nullptr;
    int32_t inBytes = 0;
    const void* out = nullptr;
    int32_t outBytes = 0;
    while (platform::StopSignal() == 0 && input.Next(in, inBytes))
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
        // A block the library could not process ends the pass, its output before it written.
        if (block.Failure() != 0)
        {
            pumped.end = PumpEnd::ProcessFailed;
            pumped.error = block.Failure();
            break;
        }
        pumped.bytesIn += inBytes;
        progress.Show(pumped.bytesIn);
    }
    progress.Clear();
    // A signal that came with the last block still stops the pass before the output is published.
    if (pumped.end == PumpEnd::Drained && platform::StopSignal() != 0)
        pumped.end = PumpEnd::Stopped;
    return pumped;
}

// The output file as the two-thread pump writes it, the clips counted as the one-thread pump
// counts them.
class FileSink final : public BlockSink
{
public:
    FileSink(OutputFile& file, ClipCounter* clips) : file(file), clips(clips) {}
    bool Write(const void* block, int32_t bytes, int& error) override
    {
        if (!file.Write(block, bytes, error))
            return false;
        if (bytes > 0 && clips != nullptr)
            clips->Count(block, bytes);
        return true;
    }

private:
    OutputFile& file;
    ClipCounter* clips;
};

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

// Where an output that was not published left what was written, for the end of a message.
std::string KeptText(const OutputEnd& end)
{
    if (end.kept.empty())
        return "nothing written could be kept";
    return "the " + std::to_string(end.frames) + " samples written are kept in " + Quoted(end.kept);
}

int StoppedStatus()
{
    return kExitSignal + platform::StopSignal();
}

// Ends the pass once every block is through: the output completed and published, or left as
// it was with the reason. kExitSuccess when it is published and nothing stopped the pass.
int EndPass(const Pumped& pumped, InputFile& input, OutputFile& file, const char* outputName,
            bool noReplace)
{
    const std::string output = Quoted(outputName);
    if (pumped.end == PumpEnd::Stopped)
        return Fail(StoppedStatus(), std::string("interrupted by ") +
                                         platform::SignalName(platform::StopSignal()) + ": " +
                                         output + " left as it was; " + KeptText(file.Abandon()));
    if (pumped.end == PumpEnd::WriteFailed && pumped.error == EPIPE && IsStandardStream(outputName))
    {
        file.Abandon();
        return Fail(kExitSignal + SIGPIPE, "standard output was closed by its reader; stopped");
    }
    if (const std::string failed = input.ReadFailure(); !failed.empty())
        return Fail(kExitFailed,
                    failed + "; " + output + " is left as it was; " + KeptText(file.Abandon()));
    if (pumped.end == PumpEnd::WriteFailed)
        return Fail(kExitFailed, "cannot write " + output + ": " + std::strerror(pumped.error) +
                                     "; it is left as it was; " + KeptText(file.Abandon()));
    if (pumped.end == PumpEnd::ProcessFailed)
        return Fail(kExitFailed, "cannot process into " + output +
                                     ": the library refused a block (out of memory); it is left "
                                     "as it was; " +
                                     KeptText(file.Abandon()));
    const OutputEnd end = file.Complete();
    if (!end.published && noReplace && end.error == EEXIST)
        return Fail(kExitFailed, "output " + output +
                                     " was made by another run meanwhile and --no-clobber keeps "
                                     "it; nothing of this run is kept");
    if (!end.published)
        return Fail(kExitFailed, "cannot complete " + output + ": " + std::strerror(end.error) +
                                     "; it is left as it was; " + KeptText(end));
    if (platform::StopSignal() != 0)
        return Fail(StoppedStatus(), std::string("interrupted by ") +
                                         platform::SignalName(platform::StopSignal()) + " once " +
                                         output + " was complete");
    const std::string early = input.EndedEarly();
    if (!early.empty())
        Warn(early);
    return kExitSuccess;
}

} // namespace

int RunPass(const LibraryBinding& binding, const Settings& settings, InputFile& input,
            const char* outputName, bool noReplace, PassProgress& progress, PassCounts* counts,
            const RecordingOptions* recording)
{
    const ModeRow& mode = Mode(settings.mode);
    if (mode.start == nullptr) // a kind of the sigkit_ interface only: RunKindPass's
        return Fail(kExitFailed, std::string("mode ") + mode.word + " has no export family");
    std::string failure;
    const std::unique_ptr<ProcessingBlock> block =
        mode.start(binding.Family(settings.mode), settings, input.Description(), failure);
    if (block == nullptr)
        return Fail(kExitFailed, failure);
    for (const auto& [address, name] :
         {std::pair{binding.writeInit != nullptr, "wav_write_init"},
          {binding.writeData != nullptr, "wav_write_data"},
          {binding.writeFinish != nullptr, "sigkit_wav_write_finish"},
          {binding.writeAbandon != nullptr, "sigkit_wav_write_abandon"},
          {binding.writeNoReplace != nullptr || !noReplace, "sigkit_wav_write_no_replace"}})
        if (!address)
            return Missing(name);

    const WavDescription description =
        OutputDescription(settings.mode, settings, input.Description(), outputName);
    const std::string output = Quoted(outputName);
    const RawType* raw = RawTypeByNumber(settings.outputType);
    OutputFile file(binding, raw);
    int error = 0;
    if (raw != nullptr && raw->channels == 2 && description.channels != 2)
        return Fail(kExitFailed, std::string("--out-type ") + raw->name +
                                     " holds I/Q pairs, but this output is real (1 channel)");
    const sigkit_output_metadata change =
        OutputChange(binding, settings, input, recording);
    if (!file.Create(description, error, input.Handle(), &change))
        return Fail(kExitFailed, "cannot create " + output + ": " + std::strerror(error));
    if (noReplace && !file.NoReplace(error))
        return Fail(kExitFailed, "cannot create " + output + ": " + std::strerror(error));

    ClipCounter clips(description.formatTag, description.bitsPerSample);
    ClipCounter* const counted = counts != nullptr ? &clips : nullptr;
    std::optional<Pumped> piped;
    std::unique_ptr<ProcessingBlock> second;
    if (PumpsOnTwoThreads(input, outputName))
    {
        // Inversion of a real signal: the reading thread can take whole batches on a block of
        // its own (see SecondBlock).
        SecondBlock extra;
        if (mode.start == StartInvertFamily)
            extra.memoryBytes = InvertMemoryBytes(input.Description());
        if (extra.memoryBytes > 0)
        {
            std::string ignored; // without it the pass runs as it would anyway
            second =
                mode.start(binding.Family(settings.mode), settings, input.Description(), ignored);
            extra.block = second.get();
        }
        FileSink sink(file, counted);
        piped = PumpTwoThreads(input, *block, sink, progress,
                               extra.block != nullptr ? extra : SecondBlock{});
    }
    const Pumped pumped = piped ? *piped : Pump(input, *block, file, progress, counted);

    // The processing blocks go first, then the writing block completes the file's header.
    block->Release();
    if (second != nullptr)
        second->Release();
    const int ended = EndPass(pumped, input, file, outputName, noReplace);
    if (ended != kExitSuccess)
        return ended;
    if (counts != nullptr)
    {
        Count(pumped, input.Description(), description, clips, *counts);
        // Samples converted into another raw type are counted at the ends of that type's range.
        if (file.CountsOwnClips())
            counts->clipped = static_cast<long long>(file.Clipped());
    }
    return kExitSuccess;
}

} // namespace sigrun
