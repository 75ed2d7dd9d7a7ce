#include "KindRun.h"

#include "FrameDecoder.h"
#include "KindPass.h"
#include "Messages.h"
#include "StreamEnds.h"

#include <algorithm>
#include <climits>
#include <csignal>
#include <new>

#include <unistd.h>

namespace sigrun {

namespace {

// Input frames handed to the processing object per call, at most, and the output frames one call
// may make (unless a single input frame makes more): bound the buffers.
constexpr std::size_t kMostFramesPerCall = std::size_t{1} << 15;

// Two threads only where the output of kMostFramesPerCall frames (a block read from a file holds
// no more) stays within this: a block's output is held whole between the threads, and a few
// blocks' worth are on their way at once.
constexpr std::size_t kMostPipedBlockBytes = std::size_t{16} << 20;
// The output of one block handed between the threads, at most (a 32-bit count of bytes).
constexpr std::size_t kMostHandedBytes = std::size_t{1} << 30;

// The path where the library keeps what was written when an output is not published.
std::string PartialName(const std::string& outputName)
{
    std::string name = outputName;
    if (name.size() >= 4 && name.compare(name.size() - 4, 4, ".wav") == 0)
        name.resize(name.size() - 4);
    return name + ".partial.wav";
}

} // namespace

KindRun::~KindRun()
{
    api.destroy(processor);
    if (writer != nullptr)
        api.wavAbandon(writer);
}

int KindRun::Start(const Settings& settings, const InputFile& file, const char* outputName,
                   bool noReplace, const OutputMetadata& metadata)
{
    const WavDescription& input = file.Description();
    name = outputName;
    quoted = Quoted(name);
    floatsIn = input.channels;
    const sigkit_config config = KindConfig(api, settings, input);
    int s = api.create(&config, &processor);
    if (s != SIGKIT_OK)
        return Fail(kExitFailed, "cannot process " + Quoted(file.Name()) + ": " + api.Text(s));
    int complexOut = 0;
    int channels = 1;
    double rate = 0.0;
    api.outputLayout(processor, &complexOut, &channels, &rate);
    const int fileChannels = complexOut != 0 ? 2 : channels;
    floatsOut = static_cast<std::size_t>(fileChannels);
    sigkit_wav_format format{};
    api.formatInit(&format, OutputEncoding(settings, input), rate, fileChannels);
    if (noReplace)
        format.flags |= SIGKIT_WAV_NO_REPLACE;
    if (IsStandardStream(name))
        return StartStream(settings, format, rate, fileChannels);
    format.metadata = metadata.bits & (SIGKIT_META_CENTRE_FREQUENCY | SIGKIT_META_START_TIME);
    format.centre_frequency = metadata.centre;
    format.start_time = metadata.start;
    s = api.wavCreate(outputName, &format, &writer);
    if (s == SIGKIT_E_EXISTS && noReplace)
        return Fail(kExitFailed, "output " + quoted + " exists and --no-clobber keeps it");
    if (s != SIGKIT_OK)
        return Fail(kExitFailed, "cannot create " + quoted + ": " + api.Text(s));
    return kExitSuccess;
}

int KindRun::Step(const float*& in, std::size_t& frames, std::vector<float>& output,
                  std::size_t& used)
{
    std::size_t now = std::min(frames, kMostFramesPerCall);
    std::size_t most = 0;
    api.maxOutput(processor, in != nullptr ? now : 0, &most);
    while (in != nullptr && most > kMostFramesPerCall && now > 1)
    {
        now = std::max<std::size_t>(1, now * kMostFramesPerCall / most);
        api.maxOutput(processor, now, &most);
    }
    // Grown, never shrunk: the room is not filled afresh for every call.
    const std::size_t room = used + std::max<std::size_t>(most, 1) * floatsOut;
    if (output.size() < room)
        output.resize(room);
    std::size_t got = 0;
    float* at = output.data() + used;
    const int s = in != nullptr ? api.process(processor, in, now, at, most, &got)
                                : api.flush(processor, at, most, &got);
    if (s == SIGKIT_OK)
        used += got * floatsOut;
    if (in != nullptr)
        in += now * floatsIn;
    frames -= now;
    return s;
}

int KindRun::Write(const float* frames, std::size_t count)
{
    const int s = count > 0 ? api.wavWrite(writer, frames, count) : SIGKIT_OK;
    if (s == SIGKIT_OK)
        framesOut += static_cast<long long>(count);
    return s;
}

int KindRun::Feed(const float* in, std::size_t frames)
{
    do
    {
        std::size_t used = 0;
        const int s = Step(in, frames, out, used);
        if (s != SIGKIT_OK)
            return ProcessFailed(s);
        const int w = Write(out.data(), used / floatsOut);
        if (w != SIGKIT_OK)
            return WriteFailed(w);
    } while (frames > 0);
    return kExitSuccess;
}

std::size_t KindRun::OutputBytes(std::size_t frames) const
{
    std::size_t most = 0;
    api.maxOutput(processor, frames, &most);
    return most * floatsOut * sizeof(float);
}

int KindRun::Complete(bool noReplace)
{
    api.wavClipped(writer, &clipped);
    api.destroy(processor);
    processor = nullptr;
    sigkit_wav_writer* closing = writer;
    writer = nullptr;
    const int s = api.wavClose(closing);
    if (s == SIGKIT_E_EXISTS && noReplace)
        return Fail(kExitFailed, "output " + quoted +
                                     " was made by another run meanwhile and --no-clobber keeps "
                                     "it; nothing of this run is kept");
    if (s != SIGKIT_OK)
        return Fail(kExitFailed, "cannot complete " + quoted + ": " + api.Text(s) +
                                     "; it is left as it was; what was written is kept in " +
                                     Quoted(PartialName(name)));
    return kExitSuccess;
}

int KindRun::StartStream(const Settings& settings, const sigkit_wav_format& format, double rate,
                         int channels)
{
    int s = SIGKIT_OK;
    if (const RawType* raw = RawTypeByNumber(settings.outputType); raw != nullptr)
    {
        if (raw->channels == 2 && channels != 2)
            return Fail(kExitFailed, std::string("--out-type ") + raw->name +
                                         " holds I/Q pairs, but this output is real (1 channel)");
        sigkit_raw_format shape{};
        s = api.rawFormatInit(&shape, raw->type, rate, channels);
        if (s == SIGKIT_OK)
            s = api.rawCreateFd(STDOUT_FILENO, &shape, &writer);
    }
    else
        s = api.wavCreateFd(STDOUT_FILENO, &format, &writer);
    if (s != SIGKIT_OK)
        return Fail(kExitFailed, "cannot write to standard output: " + std::string(api.Text(s)));
    return kExitSuccess;
}

int KindRun::WriteFailed(int status)
{
    progress.Clear(); // the line is the message's
    if (status == SIGKIT_E_PIPE)
    {
        if (writer != nullptr)
            api.wavAbandon(writer);
        writer = nullptr;
        return Fail(kExitSignal + SIGPIPE, "standard output was closed by its reader; stopped");
    }
    failedWrite = status;
    return Fail(kExitFailed, "cannot write " + quoted + ": " + api.Text(status) +
                                 "; it is left as it was; " + Abandon());
}

int KindRun::ProcessFailed(int status)
{
    progress.Clear();
    return Fail(kExitFailed, "cannot process into " + quoted + ": " + api.Text(status) +
                                 "; it is left as it was; " + Abandon());
}

std::string KindRun::Abandon()
{
    if (writer == nullptr)
        return "nothing written could be kept";
    sigkit_wav_writer* leaving = writer;
    writer = nullptr;
    const int s = api.wavAbandon(leaving);
    const std::string partial = PartialName(name);
    if (s == SIGKIT_OK)
        return "the " + std::to_string(framesOut) + " samples written are kept in " +
               Quoted(partial);
    // After a failed write the writer answers with that failure, and keeps what reached the
    // disk (more than the calls that succeeded: a part of the failed one) all the same.
    if (s == failedWrite && access(partial.c_str(), F_OK) == 0)
        return "what was written is kept in " + Quoted(partial);
    return "nothing written could be kept";
}

namespace {

// The processing thread's side of a piped run: each block's bytes decoded into frames and
// processed, the output of all its calls handed over as one.
class KindBlock final : public ProcessingBlock
{
public:
    KindBlock(KindRun& run, const WavDescription& input) : run(run), decoder(input) {}

    void Process(const void* in, int32_t inBytes, const void*& out, int32_t& outBytes) override
    {
        std::size_t used = 0;
        try
        {
            std::size_t frames = decoder.Decode(in, inBytes, decoded);
            framesIn += static_cast<long long>(frames);
            const float* next = decoded.data();
            do
            {
                failed = run.Step(next, frames, made, used);
                // Never reached by a block read from a file (kMostPipedBlockBytes bounds its
                // output).
                if (failed == SIGKIT_OK && used * sizeof(float) > kMostHandedBytes)
                    failed = SIGKIT_E_NO_MEMORY;
            } while (failed == SIGKIT_OK && frames > 0);
        }
        catch (const std::bad_alloc&)
        {
            // Nothing may leave the thread: the pass ends at this block, as one thread's does.
            outOfMemory = true;
            failed = SIGKIT_E_NO_MEMORY;
        }
        out = made.data();
        outBytes = static_cast<int32_t>(used * sizeof(float));
    }
    void Release() override {}
    int Failure() const override { return failed; }

    long long framesIn = 0;
    bool outOfMemory = false; // what failed was an allocation

private:
    KindRun& run;
    FrameDecoder decoder;
    std::vector<float> decoded;
    std::vector<float> made;
    int failed = SIGKIT_OK;
};

// The run's output as the pumping thread writes it, one block's in one call (the library's
// writer takes what it can of a call that fails, so the file is that of the calls of one thread);
// a failed write's code is the library's.
class KindSink final : public BlockSink
{
public:
    explicit KindSink(KindRun& run) : run(run) {}
    bool Write(const void* block, int32_t bytes, int& error) override
    {
        const std::size_t floats = static_cast<std::size_t>(bytes) / sizeof(float);
        error = run.Write(static_cast<const float*>(block), floats / run.FloatsOut());
        return error == SIGKIT_OK;
    }

private:
    KindRun& run;
};

} // namespace

std::optional<Pumped> PumpKindRun(KindRun& run, InputFile& input, const char* outputName,
                                  PassProgress& progress, long long& framesIn)
{
    if (!PumpsOnTwoThreads(input, outputName) ||
        run.OutputBytes(kMostFramesPerCall) > kMostPipedBlockBytes)
        return std::nullopt;
    KindBlock block(run, input.Description());
    KindSink sink(run);
    std::optional<Pumped> pumped = PumpTwoThreads(input, block, sink, progress);
    // Memory that the processing thread could not have is met here as one thread meets it.
    if (pumped && pumped->end == PumpEnd::ProcessFailed && block.outOfMemory)
        throw std::bad_alloc();
    framesIn = block.framesIn;
    return pumped;
}

} // namespace sigrun
