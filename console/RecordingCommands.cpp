#include "RecordingCommands.h"

#include "Messages.h"
#include "PngWriter.h"
#include "ProcessingModes.h"
#include "platform/Files.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

namespace sigrun {

namespace {

// The picture's name beside its input, or in a folder: the file name without its extension,
// then "_spectrum.png".
std::string PictureName(const std::string& input, const std::string& folder)
{
    const std::size_t slash = input.find_last_of('/');
    const std::string base = slash == std::string::npos ? input : input.substr(slash + 1);
    const std::string dir = slash == std::string::npos ? "" : input.substr(0, slash + 1);
    const std::size_t dot = base.find_last_of('.');
    const std::string stem = dot == std::string::npos || dot == 0 ? base : base.substr(0, dot);
    if (folder.empty())
        return dir + stem + "_spectrum.png";
    return folder + (folder.back() == '/' ? "" : "/") + stem + "_spectrum.png";
}

std::string StatusText(const LibraryBinding& binding, int status)
{
    return binding.strerror != nullptr ? binding.strerror(status)
                                       : "status " + std::to_string(status);
}

// The request of the options for one input.
sigkit_spectrum_request Request(const RecordingOptions& r)
{
    sigkit_spectrum_request request{};
    request.size = sizeof request;
    request.width = r.width;
    request.height = r.height;
    request.fft_size = r.fftSize;
    request.start_seconds = r.startSeconds;
    request.length_seconds = r.lengthSeconds;
    request.span_centre = r.spanCentreHz;
    request.span_width = r.spanWidthHz;
    if (r.centreHz.has_value())
    {
        request.metadata |= SIGKIT_META_CENTRE_FREQUENCY;
        request.centre_frequency = *r.centreHz;
    }
    if (r.startTime.has_value())
    {
        request.metadata |= SIGKIT_META_START_TIME;
        request.start_time = *r.startTime;
    }
    return request;
}

// Why an input cannot give what the options ask, checked before it is analysed: a band or time
// outside the recording. "" when it can.
std::string RequestRefusal(const RecordingOptions& r, const InputFile& input)
{
    const WavDescription& d = input.Description();
    const double rate = d.sampleRate;
    const bool complex = d.channels == 2;
    if (r.spanWidthHz > 0.0)
    {
        const double low = r.spanCentreHz - r.spanWidthHz / 2;
        const double high = r.spanCentreHz + r.spanWidthHz / 2;
        const double bandLow = complex ? -rate / 2 : 0.0;
        if (low < bandLow - 0.5 || high > rate / 2 + 0.5)
            return "--span " + FrequencyText(r.spanCentreHz) + ":" + FrequencyText(r.spanWidthHz) +
                   " reaches outside the band of " + Quoted(input.Name()) + " (" +
                   FrequencyText(bandLow) + " to " + FrequencyText(rate / 2) +
                   (complex ? " from its centre)" : ")");
    }
    return "";
}

class Recordings
{
public:
    Recordings(const CommandLine& line, const LibraryBinding& binding, bool outputIsFolder)
        : line(line), binding(binding), outputIsFolder(outputIsFolder)
    {
    }
    int Run();

private:
    int One(const std::string& name, std::string& json);
    int Picture(const std::string& name, const sigkit_spectrum* spectrum);

    const CommandLine& line;
    const LibraryBinding& binding;
    bool outputIsFolder;
    InputFile input{binding};
};

int Recordings::Run()
{
    const RecordingOptions& r = line.recording;
    for (const auto& [address, name] :
         {std::pair{binding.spectrumOpen != nullptr, "sigkit_spectrum_open"},
          {binding.spectrumInfo != nullptr, "sigkit_spectrum_get_info"},
          {binding.spectrumPicture != nullptr, "sigkit_spectrum_picture"},
          {binding.spectrumStations != nullptr, "sigkit_spectrum_stations"},
          {binding.spectrumDestroy != nullptr, "sigkit_spectrum_destroy"}})
        if (!address)
            return Missing(name);
    if (r.pngGiven && line.inputs.size() > 1)
        return Fail(kExitUsage, "--png names one picture: give one input with it, or -o FOLDER");
    int status = kExitSuccess;
    std::vector<std::string> documents;
    for (const std::string& name : line.inputs)
    {
        std::string json;
        const int one = One(name, json);
        if (one != kExitSuccess)
            status = status == kExitSuccess ? one : std::max(status, one);
        else if (!json.empty())
            documents.push_back(json);
    }
    if (line.action == Action::Stations && r.json && !documents.empty())
    {
        // One input: its object; several: an array of them.
        std::string out;
        if (line.inputs.size() == 1)
            out = documents.front();
        else
        {
            out = "[\n";
            for (std::size_t i = 0; i < documents.size(); ++i)
            {
                std::string doc = documents[i];
                while (!doc.empty() && doc.back() == '\n')
                    doc.pop_back();
                out += doc + (i + 1 < documents.size() ? ",\n" : "\n");
            }
            out += "]\n";
        }
        std::fputs(out.c_str(), stdout);
    }
    std::fflush(stdout);
    return status;
}

int Recordings::One(const std::string& name, std::string& json)
{
    std::string failure;
    // Opened for its format first: a band outside the recording is the options' fault.
    if (!input.Open(name.c_str(), failure))
        return Fail(kExitFailed, failure);
    const bool usable = UnsupportedReason(input.Description(), true) == nullptr;
    const std::string refusal = usable ? RequestRefusal(line.recording, input) : "";
    input.Close();
    if (!refusal.empty())
        return Fail(kExitUsage, refusal);

    const sigkit_spectrum_request request = Request(line.recording);
    sigkit_spectrum* spectrum = nullptr;
    const int opened = binding.spectrumOpen(name.c_str(), &request, &spectrum);
    if (opened != SIGKIT_OK)
    {
        // The band and the sizes are checked above: what is left is the time, or no samples.
        const RecordingOptions& r = line.recording;
        const bool timeGiven = r.startSeconds > 0.0 || r.lengthSeconds > 0.0;
        if (opened == SIGKIT_E_INVALID && timeGiven)
            return Fail(kExitUsage, "--time asks for a part that " + Quoted(name) +
                                        " does not hold (it holds no sample from there on)");
        if (opened == SIGKIT_E_INVALID)
            return Fail(kExitFailed, Quoted(name) + " holds no samples to analyse");
        return Fail(kExitFailed,
                    "cannot analyse " + Quoted(name) + ": " + StatusText(binding, opened));
    }
    int status = kExitSuccess;
    if (line.action == Action::Spectrum)
        status = Picture(name, spectrum);
    else
    {
        const int32_t asJson = line.recording.json ? 1 : 0;
        std::size_t length = 0;
        int got = binding.spectrumStations(spectrum, asJson, nullptr, 0, &length);
        std::vector<char> text(length + 1);
        if (got == SIGKIT_OK)
            got = binding.spectrumStations(spectrum, asJson, text.data(), text.size(), &length);
        if (got != SIGKIT_OK)
            status = Fail(kExitFailed, "cannot list the stations of " + Quoted(name) + ": " +
                                           StatusText(binding, got));
        else if (asJson != 0)
            json.assign(text.data(), length);
        else
            std::fwrite(text.data(), 1, length, stdout);
    }
    binding.spectrumDestroy(spectrum);
    return status;
}

int Recordings::Picture(const std::string& name, const sigkit_spectrum* spectrum)
{
    const RecordingOptions& r = line.recording;
    int32_t width = 0;
    int32_t height = 0;
    int status = binding.spectrumPicture(spectrum, 0.0, 0.0, nullptr, 0, &width, &height);
    if (status != SIGKIT_OK || width <= 0 || height <= 0)
        return Fail(kExitFailed,
                    "cannot draw " + Quoted(name) + ": " + StatusText(binding, status));
    std::vector<uint8_t> rgb(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) *
                             3);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    status = binding.spectrumPicture(spectrum, r.levelsGiven ? r.dbLow : nan,
                                     r.levelsGiven ? r.dbHigh : nan, rgb.data(), rgb.size(), &width,
                                     &height);
    if (status != SIGKIT_OK)
        return Fail(kExitFailed,
                    "cannot draw " + Quoted(name) + ": " + StatusText(binding, status));

    std::string error;
    if (r.pngGiven && r.png == "-")
    {
        if (!WritePng(stdout, width, height, rgb.data(), error))
            return Fail(kExitFailed, "cannot write the picture of " + Quoted(name) +
                                         " to standard output: " + error);
        std::fflush(stdout);
        return kExitSuccess;
    }
    const std::string path = r.pngGiven                            ? r.png
                             : line.outputGiven && !outputIsFolder ? line.output
                             : line.outputGiven                    ? PictureName(name, line.output)
                                                                   : PictureName(name, "");
    if (line.noClobber && platform::PathExists(path.c_str()))
        return Fail(kExitFailed, "output " + Quoted(path) + " exists and --no-clobber keeps it");
    if (platform::SameFile(path.c_str(), name.c_str()))
        return Fail(kExitFailed, "output " + Quoted(path) + " is the input file itself");
    if (!WritePngFile(path, width, height, rgb.data(), error))
        return Fail(kExitFailed, "cannot write " + Quoted(path) + ": " + error);
    if (!line.quiet)
    {
        std::fprintf(stderr, "sigrun: wrote %s: %d x %d pixels\n", Quoted(path).c_str(), width,
                     height);
        std::fflush(stderr);
    }
    return kExitSuccess;
}

// The input's own centre, else the one given.
bool CentreOf(const LibraryBinding& binding, const InputFile& input,
              const RecordingOptions& recording, double& centre)
{
    uint32_t bits = 0;
    double start = 0.0;
    if (binding.readMetadata != nullptr && input.Handle() != nullptr &&
        binding.readMetadata(input.Handle(), &bits, &centre, &start) == 1 &&
        (bits & SIGKIT_META_CENTRE_FREQUENCY) != 0)
        return true;
    if (recording.centreHz.has_value())
    {
        centre = *recording.centreHz;
        return true;
    }
    return false;
}

int KindOfMode(int mode)
{
    // The menu's six modes are the library's six original kinds, in the same order.
    const int menu = Mode(mode).menu;
    return menu >= 1 && menu <= 6 ? menu : 0;
}

int QualityOf(const char* quality)
{
    if (std::strcmp(quality, "Low") == 0)
        return SIGKIT_QUALITY_LOW;
    if (std::strcmp(quality, "Medium") == 0)
        return SIGKIT_QUALITY_MEDIUM;
    return SIGKIT_QUALITY_HIGH;
}

// Input frames the kind drops before its first output (negative where its output starts before
// the input, by a filter's delay); 0 where the library cannot tell.
double DroppedFrames(const LibraryBinding& binding, const Settings& settings,
                     const WavDescription& input, double outputRate)
{
    const int kind = KindOfMode(settings.mode);
    if (kind == 0 || binding.configInit == nullptr || binding.create == nullptr ||
        binding.latency == nullptr || binding.destroy == nullptr || !(outputRate > 0.0))
        return 0.0;
    sigkit_config config{};
    if (binding.configInit(&config, kind) != SIGKIT_OK)
        return 0.0;
    config.input_rate = input.sampleRate;
    config.complex_input = input.channels == 2 ? 1 : 0;
    config.frequency = settings.frequency;
    if (ModeTakes(settings.mode, Value::Band))
        config.band = settings.outRateOrBand;
    if (ModeTakes(settings.mode, Value::OutRate))
        config.output_rate = settings.outRateOrBand;
    config.gain = 1.0;
    config.quality = QualityOf(settings.quality);
    sigkit_processor* processor = nullptr;
    double latency = 0.0;
    const bool known = binding.create(&config, &processor) == SIGKIT_OK &&
                       binding.latency(processor, &latency) == SIGKIT_OK && std::isfinite(latency);
    binding.destroy(processor);
    return known ? -latency * input.sampleRate / outputRate : 0.0;
}

// Whether the input says when it was recorded; true when the library cannot tell.
bool HasStartTime(const LibraryBinding& binding, const InputFile& input)
{
    if (binding.readMetadata == nullptr || input.Handle() == nullptr)
        return true;
    uint32_t bits = 0;
    double centre = 0.0;
    double start = 0.0;
    if (binding.readMetadata(input.Handle(), &bits, &centre, &start) != 1)
        return true;
    return (bits & SIGKIT_META_START_TIME) != 0;
}

} // namespace

int RunRecordings(const CommandLine& line, const LibraryBinding& binding, bool outputIsFolder)
{
    Recordings recordings(line, binding, outputIsFolder);
    return recordings.Run();
}

std::string MetadataText(const LibraryBinding& binding, const InputFile& input)
{
    if (binding.readMetadata == nullptr || input.Handle() == nullptr)
        return "";
    uint32_t bits = 0;
    double centre = 0.0;
    double start = 0.0;
    if (binding.readMetadata(input.Handle(), &bits, &centre, &start) != 1)
        return "";
    std::string text;
    if ((bits & SIGKIT_META_CENTRE_FREQUENCY) != 0)
        text += ", centre " + FrequencyText(centre);
    if ((bits & SIGKIT_META_START_TIME) != 0)
        text += ", start " + UtcText(start);
    return text;
}

bool SettingsForInput(const CommandLine& line, const LibraryBinding& binding,
                      const InputFile& input, Settings& settings, std::string& error)
{
    settings = line.settings;
    if (!ModeTakes(settings.mode, Value::Frequency))
        return true;
    const WavDescription& d = input.Description();
    const RecordingOptions& r = line.recording;
    double offset = settings.frequency;
    std::string given = "--frequency " + FrequencyText(settings.frequency);
    if (r.absoluteHz.has_value())
    {
        given = "--absolute-frequency " + FrequencyText(*r.absoluteHz);
        double centre = 0.0;
        if (!CentreOf(binding, input, r, centre))
        {
            error = given + " needs the centre frequency of " + Quoted(input.Name()) +
                    ", which neither its auxi chunk nor its name tells: give --centre HZ, or "
                    "--frequency as an offset";
            return false;
        }
        offset = *r.absoluteHz - centre;
        given += " (" + FrequencyText(offset) + " from the centre " + FrequencyText(centre) + ")";
    }
    // What the recording holds: +-rate/2 around its centre (a real recording's negative
    // frequencies mirror its positive ones).
    const double half = d.sampleRate / 2.0;
    if (!(std::fabs(offset) <= half))
    {
        error = given + " is outside what " + Quoted(input.Name()) + " holds (" +
                FrequencyText(-half) + " to " + FrequencyText(half) + " from its centre)";
        return false;
    }
    settings.frequency = static_cast<int32_t>(std::llround(offset));
    return true;
}

int CheckInputFrequencies(const CommandLine& line, const LibraryBinding& binding, InputFile& input)
{
    if (!ModeTakes(line.settings.mode, Value::Frequency))
        return kExitSuccess;
    for (const std::string& name : line.inputs)
    {
        // Standard input can be read once: its frequency is checked when it is processed.
        if (IsStandardStream(name))
            continue;
        std::string failure;
        const bool opened = input.Open(name.c_str(), failure);
        if (!opened || UnsupportedReason(input.Description(), true) != nullptr)
        {
            input.Close();
            continue;
        }
        Settings settings;
        std::string error;
        const bool usable = SettingsForInput(line, binding, input, settings, error);
        input.Close();
        if (!usable)
            return Fail(kExitUsage, error);
    }
    return kExitSuccess;
}

sigkit_output_metadata OutputChange(const LibraryBinding& binding, const Settings& settings,
                                    const InputFile& inputFile, const RecordingOptions* recording)
{
    const WavDescription& input = inputFile.Description();
    sigkit_output_metadata change{};
    change.size = sizeof change;
    if (recording != nullptr && recording->centreHz.has_value())
    {
        change.metadata |= SIGKIT_META_CENTRE_FREQUENCY;
        change.centre_frequency = *recording->centreHz;
    }
    if (recording != nullptr && recording->startTime.has_value())
    {
        change.metadata |= SIGKIT_META_START_TIME;
        change.start_time = *recording->startTime;
    }
    const WavDescription out = OutputDescription(settings.mode, settings, input, "");
    const bool complexIn = input.channels == 2;
    change.input_rate = input.sampleRate;
    change.output_rate = out.sampleRate;
    change.complex_output = out.channels == 2 ? 1 : 0;
    const int kind = KindOfMode(settings.mode);
    if (kind == SIGKIT_KIND_IQ2R)
        // Real to I/Q: the band's middle (a quarter of the input rate) comes to 0 Hz; I/Q to
        // real: its lowest frequency (-rate/2) does.
        change.shift = complexIn ? -0.5 * input.sampleRate : 0.25 * input.sampleRate;
    else if (ModeTakes(settings.mode, Value::Frequency))
        change.shift = settings.frequency;
    if (ModeTakes(settings.mode, Value::Band))
        change.band = settings.outRateOrBand;
    // Only a start time moves with them, and learning them makes a processor of the kind
    // (designing its filters) for nothing else.
    if ((change.metadata & SIGKIT_META_START_TIME) != 0 || HasStartTime(binding, inputFile))
        change.dropped_frames = DroppedFrames(binding, settings, input, out.sampleRate);
    return change;
}

} // namespace sigrun
