// The six original kinds behind the sigkit_ API: each object is a handle of the original
// exports, made from a record with the float format word, whose converter then passes the
// floats through. The output is therefore the exports' own, bit for bit.
#include "Text.h"
#include "api/Config.h"
#include "api/KindTable.h"
#include "sigkit.h"

#include <cfloat>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

namespace sigkit::api {

namespace {

constexpr const char* kFloatFormat = "32 bits (float)";
// Input floats handed to an export at a time: one pass of its chain, so that nothing is
// gathered into a second buffer.
constexpr std::size_t kSliceFloats = 12288;
// Delay of the Hilbert splitter that makes real input analytic, in input samples.
constexpr double kSplitterDelay = 150.0;
// Extra delay of the resampler's bank beyond its prototype's half length, in input samples.
constexpr double kBankDelay = 4.0;

const char* QualityWord(int quality)
{
    switch (quality)
    {
    case SIGKIT_QUALITY_LOW:
        return "Low";
    case SIGKIT_QUALITY_MEDIUM:
        return "Medium";
    default:
        return "High";
    }
}

// Taps of the designs that the quality words select (101, 301, 1001).
int32_t TapsOf(int quality)
{
    switch (quality)
    {
    case SIGKIT_QUALITY_LOW:
        return 101;
    case SIGKIT_QUALITY_MEDIUM:
        return 301;
    default:
        return 1001;
    }
}

// The most outputs of a rate step of ratio R (input over output rate, as the stage computes it
// in float) for n inputs. Decimating, the step's accumulator counts exactly, so at most
// floor(n / R) + 1 outputs come; interpolating, its subtractions round, and the bound allows
// 1/1024 more (the rounding of R >= 1/4096 moves the count by less than 1/2048).
bool RateBound(std::size_t n, float R, std::size_t& out)
{
    const double ratio = static_cast<double>(R);
    double most = ratio >= 1.0
                      ? std::floor(static_cast<double>(n) / ratio) + 2.0
                      : std::ceil(static_cast<double>(n) / ratio * (1.0 + 1.0 / 1024.0)) + 4.0;
    if (!(most < 9.0e15))
        return false;
    out = static_cast<std::size_t>(most);
    return true;
}

// Everything an original kind's object needs besides its handle.
struct Shape
{
    Layout input;
    Layout output;
    double latency = 0.0;        // output frames
    std::size_t flushFrames = 0; // zero frames that push the held samples out
    int steps = 0;               // rate steps (0: output = multiply * n + add)
    float R1 = 1.0f;
    float R2 = 1.0f;
    std::size_t multiply = 1;
    std::size_t divide = 1;
    std::size_t add = 0;
};

template <typename Handle, typename Params> struct Family
{
    int32_t (*init)(Params, Handle**);
    int32_t (*data)(Handle*, const void*, int32_t, const void**, int32_t*);
    int32_t (*release)(Handle*);
};

template <typename Handle, typename Params> class OriginalProcessor final : public Processor
{
public:
    OriginalProcessor(const Family<Handle, Params>& family, const Params& params,
                      const Shape& shape)
        : family(family), params(params), shape(shape)
    {
    }
    ~OriginalProcessor() override
    {
        if (handle != nullptr)
            family.release(handle);
    }

    int Open()
    {
        Handle* made = nullptr;
        if (family.init(params, &made) != 1 || made == nullptr)
            return SIGKIT_E_NO_MEMORY;
        if (handle != nullptr)
            family.release(handle);
        handle = made;
        return SIGKIT_OK;
    }

    Layout Input() const override { return shape.input; }
    Layout Output() const override { return shape.output; }

    bool MaxOutput(std::size_t inFrames, std::size_t& outFrames) const override
    {
        const std::size_t n = inFrames == 0 ? shape.flushFrames : inFrames;
        if (shape.steps == 0)
        {
            if (n > SIZE_MAX / 4 / shape.multiply)
                return false;
            outFrames = n * shape.multiply / shape.divide + shape.add;
            return true;
        }
        std::size_t middle = 0;
        if (!RateBound(n, shape.R1, middle))
            return false;
        return shape.steps == 1 ? (outFrames = middle, true)
                                : RateBound(middle, shape.R2, outFrames);
    }

    int Process(const float* in, std::size_t frames, float* out, std::size_t capacity,
                std::size_t& made) override
    {
        made = 0;
        const std::size_t inFloats = shape.input.FrameFloats();
        const std::size_t outFloats = shape.output.FrameFloats();
        const std::size_t slice = kSliceFloats / inFloats;
        for (std::size_t at = 0; at < frames; at += slice)
        {
            const std::size_t n = frames - at < slice ? frames - at : slice;
            const void* block = nullptr;
            int32_t bytes = 0;
            family.data(handle, in + at * inFloats,
                        static_cast<int32_t>(n * inFloats * sizeof(float)), &block, &bytes);
            if (bytes <= 0)
                continue;
            const auto floats = static_cast<std::size_t>(bytes) / sizeof(float);
            // The bound of MaxOutput makes room for everything; should a stage ever make more, the
            // call fails rather than write past the caller's buffer.
            if (floats % outFloats != 0 || floats / outFloats > capacity - made)
                return SIGKIT_E_INTERNAL;
            std::memcpy(out + made * outFloats, block, floats * sizeof(float));
            made += floats / outFloats;
        }
        return SIGKIT_OK;
    }

    int Flush(float* out, std::size_t capacity, std::size_t& made) override
    {
        made = 0;
        try
        {
            const std::vector<float> zeros(shape.flushFrames * shape.input.FrameFloats(), 0.0f);
            return Process(zeros.data(), shape.flushFrames, out, capacity, made);
        }
        catch (const std::bad_alloc&)
        {
            return SIGKIT_E_NO_MEMORY;
        }
    }

    int Reset() override { return Open(); }
    double Latency() const override { return shape.latency; }

private:
    Family<Handle, Params> family;
    Params params;
    Shape shape;
    Handle* handle = nullptr;
};

template <typename Handle, typename Params>
int Build(const Family<Handle, Params>& family, const Params& params, const Shape& shape,
          std::unique_ptr<Processor>& made)
{
    auto processor = std::make_unique<OriginalProcessor<Handle, Params>>(family, params, shape);
    const int status = processor->Open();
    if (status == SIGKIT_OK)
        made = std::move(processor);
    return status;
}

void FillBlockParams(BlockParams& params, const sigkit_config& config, double third)
{
    params = BlockParams{};
    CopyText(params.inputMode, config.complex_input != 0 ? "Complex" : "Real");
    CopyText(params.sampleFormat, kFloatFormat);
    params.sampleRate = static_cast<int32_t>(config.input_rate);
    params.frequency = static_cast<int32_t>(config.frequency);
    params.outRateOrBand = static_cast<int32_t>(third);
    params.amplify = static_cast<float>(config.gain);
    CopyText(params.quality, QualityWord(config.quality));
}

// RESAMPLE, AM_CLASSIC and FM_CLASSIC: the output rate, its ratio and the rate steps.
int RateShape(const sigkit_config& config, double outRate, Shape& shape)
{
    if (!WholeInt32(outRate) || outRate <= 0.0)
        return SIGKIT_E_BAD_RATE;
    const float Fd = static_cast<float>(static_cast<int32_t>(config.input_rate));
    const float FdOut = static_cast<float>(static_cast<int32_t>(outRate));
    const float R = Fd / FdOut;
    // The ratios the resampler takes: interpolation by at most 4096.
    if (!std::isfinite(R) || R <= 0.0f || R * 4096.0f < 1.0f || R >= 2147483648.0f)
        return SIGKIT_E_BAD_RATE;
    const double N = TapsOf(config.quality);
    const double D = (N - 1.0) / 2.0 + kBankDelay;
    const double H = config.complex_input != 0 ? 0.0 : kSplitterDelay;
    const double ceilR = std::ceil(static_cast<double>(R));
    shape.output.rate = outRate;
    shape.steps = 1;
    shape.R1 = R;
    if (config.kind == SIGKIT_KIND_RESAMPLE && static_cast<int32_t>(R) >= 8)
    {
        // Two steps of about sqrt(R) each, as the stage designs them.
        const auto M = static_cast<int32_t>(std::sqrt(R));
        const float Fi = Fd / static_cast<float>(M);
        shape.steps = 2;
        shape.R1 = Fd / Fi;
        shape.R2 = Fi / FdOut;
        const double R1 = shape.R1;
        const double R2 = shape.R2;
        // Output j of a step shows its input at j * R + R - 1 - delay.
        const double c1 = R1 - 1.0 - D - H;
        const double c2 = R2 - 1.0 - D;
        shape.latency = -(c2 * R1 + c1) / (R1 * R2) - (N - 1.0);
        shape.flushFrames = static_cast<std::size_t>(H + D + D * R1 + ceilR) + 2;
        return SIGKIT_OK;
    }
    double extra = 0.0;
    double discard = (N - 1.0) / 2.0;
    if (config.kind == SIGKIT_KIND_FM_CLASSIC)
        extra = 0.5; // the phase step between two samples stands for the instant between them
    if (config.kind == SIGKIT_KIND_AM_CLASSIC)
        discard = std::floor((N + 999.0) / 2.0); // also waits for the envelope mean to settle
    const double ratio = R;
    shape.latency = (D + H + extra + 1.0 - ratio) / ratio - discard;
    shape.flushFrames = static_cast<std::size_t>(H + D + extra + ceilR) + 2;
    return SIGKIT_OK;
}

int MakeBlockKind(const sigkit_config& config, std::unique_ptr<Processor>& made)
{
    if (!WholeInt32(config.input_rate))
        return SIGKIT_E_BAD_RATE;
    if (!WholeInt32(config.frequency))
        return SIGKIT_E_FREQUENCY;
    Shape shape;
    shape.input = {config.complex_input != 0, 1, config.input_rate};
    shape.output = {true, 1, config.input_rate};
    const double N = TapsOf(config.quality);
    const double H = config.complex_input != 0 ? 0.0 : kSplitterDelay;
    BlockParams params;
    if (config.kind == SIGKIT_KIND_CONVERT)
    {
        const double band = config.band == 0.0 ? config.input_rate : config.band;
        if (!WholeInt32(band))
            return SIGKIT_E_INVALID;
        // The band filter's delay is dropped at the start; the splitter's stays.
        shape.latency = H;
        shape.flushFrames = static_cast<std::size_t>(H + (N - 1.0) / 2.0) + 1;
        FillBlockParams(params, config, band);
        return Build(Family<BlockHandle, BlockParams>{lpflt_init, lpflt_data, lpflt_free}, params,
                     shape, made);
    }
    const double outRate = config.output_rate == 0.0 ? config.input_rate : config.output_rate;
    const int status = RateShape(config, outRate, shape);
    if (status != SIGKIT_OK)
        return status;
    FillBlockParams(params, config, outRate);
    if (config.kind == SIGKIT_KIND_RESAMPLE)
        return Build(Family<BlockHandle, BlockParams>{resampl_init, resampl_data, resampl_free},
                     params, shape, made);
    shape.output.complex = false;
    if (config.kind == SIGKIT_KIND_AM_CLASSIC)
        return Build(Family<BlockHandle, BlockParams>{am_demod_init, am_demod_data, am_demod_free},
                     params, shape, made);
    return Build(Family<BlockHandle, BlockParams>{fm_demod_init, fm_demod_data, fm_demod_free},
                 params, shape, made);
}

int MakeIq2Real(const sigkit_config& config, std::unique_ptr<Processor>& made)
{
    IqParams params{};
    const bool toReal = config.complex_input != 0;
    CopyText(params.inputMode, toReal ? "Complex->Real" : "Real->Complex");
    CopyText(params.sampleFormat, kFloatFormat);
    CopyText(params.quality, QualityWord(config.quality));
    const double N = TapsOf(config.quality);
    Shape shape;
    shape.input = {toReal, 1, config.input_rate};
    if (toReal)
    {
        // Interpolation by 2 through the prototype behind the gate: its delay, (N - 1) / 2
        // outputs, is what is dropped at the start.
        shape.output = {false, 1, 2.0 * config.input_rate};
        shape.multiply = 2;
        shape.add = 4;
        shape.latency = 0.0;
        shape.flushFrames = static_cast<std::size_t>((N - 1.0) / 4.0) + 2;
    }
    else
    {
        shape.output = {true, 1, config.input_rate / 2.0};
        shape.divide = 2;
        shape.add = 2;
        const double D = (N - 1.0) / 2.0 + kBankDelay;
        shape.latency = (D + kSplitterDelay + 1.0 - 2.0) / 2.0 - (N - 1.0) / 2.0;
        shape.flushFrames = static_cast<std::size_t>(kSplitterDelay + D) + 3;
    }
    return Build(Family<IqHandle, IqParams>{iq2real_init, iq2real_data, iq2real_free}, params,
                 shape, made);
}

int MakeInvert(const sigkit_config& config, std::unique_ptr<Processor>& made)
{
    InvertParams params{};
    CopyText(params.inputMode, config.complex_input != 0 ? "Complex" : "Real");
    CopyText(params.sampleFormat, kFloatFormat);
    Shape shape;
    shape.input = {config.complex_input != 0, 1, config.input_rate};
    shape.output = {true, 1, config.input_rate};
    // Real input leaves as its analytic pairs, delayed by the splitter.
    shape.latency = config.complex_input != 0 ? 0.0 : kSplitterDelay;
    shape.flushFrames = config.complex_input != 0 ? 0 : static_cast<std::size_t>(kSplitterDelay);
    return Build(Family<InvertHandle, InvertParams>{invert_init, invert_data, invert_free}, params,
                 shape, made);
}

} // namespace

int MakeOriginal(const sigkit_config& config, std::unique_ptr<Processor>& made)
{
    // The original kinds take one real channel or one I/Q pair per frame, and a gain that a
    // float holds.
    if (config.channels != 1)
        return SIGKIT_E_CHANNELS;
    if (std::fabs(config.gain) > static_cast<double>(FLT_MAX))
        return SIGKIT_E_INVALID;
    switch (config.kind)
    {
    case SIGKIT_KIND_IQ2R:
        return MakeIq2Real(config, made);
    case SIGKIT_KIND_INVERT:
        return MakeInvert(config, made);
    case SIGKIT_KIND_RESAMPLE:
    case SIGKIT_KIND_CONVERT:
    case SIGKIT_KIND_AM_CLASSIC:
    case SIGKIT_KIND_FM_CLASSIC:
        return MakeBlockKind(config, made);
    default:
        return SIGKIT_E_UNKNOWN_KIND;
    }
}

} // namespace sigkit::api
