#include "stages/AudioConvert.h"

#include "Text.h"

#include <cstring>
#include <limits>
#include <new>

namespace sigkit {

namespace {

constexpr std::size_t kWorkAlignment = 64;

// Modes 2..7 in the order of kernels::StoredFormat; mode 1 is pass-through.
constexpr const char* kForwardWords[] = {"32Float2Float", "Char2Float",   "UChar2Float",
                                         "Short2Float",   "UShort2Float", "24Int2Float",
                                         "32Int2Float"};
constexpr const char* kReverseWords[] = {"32Float2Float", "Float2Char",   "Float2UChar",
                                         "Float2Short",   "Float2UShort", "Float2Int24",
                                         "Float2Int32"};

void SetMode(int32_t& mode, const char* value, const char* const (&words)[7])
{
    for (int32_t i = 0; i < 7; ++i)
        if (TextIs(value, words[i]))
        {
            mode = i + 1;
            return;
        }
}

kernels::StoredFormat FormatOf(int32_t mode)
{
    return static_cast<kernels::StoredFormat>(mode - 2);
}

} // namespace

AudioConvert::AudioConvert() : table(kernels::Active())
{
    Reallocate(kInitialCapacity);
}

AudioConvert::~AudioConvert()
{
    ::operator delete (work, std::align_val_t{kWorkAlignment});
}

bool AudioConvert::Reallocate(int32_t bytes)
{
    auto* fresh = static_cast<uint8_t*>(::operator new (
        static_cast<std::size_t>(bytes), std::align_val_t{kWorkAlignment}, std::nothrow));
    if (fresh == nullptr)
        return false;
    ::operator delete (work, std::align_val_t{kWorkAlignment});
    work = fresh;
    capacity = bytes;
    return true;
}

void AudioConvert::SetParam(const char* name, const char* value)
{
    if (TextIs(name, "ConvertMode"))
        SetMode(forwardMode, value, kForwardWords);
    else if (TextIs(name, "ConvertModeRev"))
        SetMode(reverseMode, value, kReverseWords);
    else if (TextIs(name, "Test"))
        testFlag = TextIs(value, "On") ? 1 : 0;
}

int32_t AudioConvert::Start()
{
    stopped = 0;
    Reallocate(kInitialCapacity);
    return 1;
}

void AudioConvert::Stop()
{
    stopped = 1;
}

int32_t AudioConvert::Put(int32_t port, const void* block, int32_t bytes)
{
    if (stopped != 0)
        return 0;
    ready = 1;
    resultBytes = 0;
    result = work;
    if (port != 0 && port != 1)
        return 0;
    const int32_t n = block != nullptr && bytes > 0 ? bytes : 0;
    const int32_t mode = port == 0 ? forwardMode : reverseMode;
    if (mode == 1)
    {
        result = block;
        resultBytes = n;
        return n;
    }

    const int32_t storedBytes = kernels::StoredBytes(FormatOf(mode));
    // Samples taken, output bytes, and the work buffer needed (a reverse conversion never
    // writes more than it reads). Computed in 64 bits: a forward result beyond the largest
    // byte count cannot be handed out, so such a block gives nothing.
    int64_t samples = 0;
    int64_t outBytes = 0;
    int64_t required = 0;
    if (port == 0)
    {
        samples = n / storedBytes;
        outBytes = 4 * samples;
        required = storedBytes <= 2   ? int64_t{n} * (4 / storedBytes)
                   : storedBytes == 3 ? outBytes
                                      : n;
    }
    else
    {
        samples = n / 4;
        outBytes = samples * storedBytes;
        required = n;
    }
    if (required > std::numeric_limits<int32_t>::max())
        return 0;
    // The buffer grows to exactly the size needed and never shrinks but through Start.
    if (required > capacity && !Reallocate(static_cast<int32_t>(required)))
        return 0;
    if (samples > 0)
    {
        const auto format = static_cast<int>(FormatOf(mode));
        const auto* in = static_cast<const uint8_t*>(block);
        if (port == 0)
            table.toFloat[format](in, static_cast<int32_t>(samples),
                                  reinterpret_cast<float*>(work));
        else
            table.fromFloat[format](in, static_cast<int32_t>(samples), work);
    }
    result = work; // after any growth: the buffer may have moved
    resultBytes = static_cast<int32_t>(outBytes);
    return resultBytes;
}

void AudioConvert::Decode(const void* block, int32_t samples, float* out) const
{
    if (samples <= 0)
        return;
    if (forwardMode == 1)
        std::memcpy(out, block, static_cast<std::size_t>(samples) * sizeof(float));
    else
        table.toFloat[static_cast<int>(FormatOf(forwardMode))](static_cast<const uint8_t*>(block),
                                                               samples, out);
}

int32_t AudioConvert::Get(int32_t /*port*/, const void** block, int32_t* bytes)
{
    if (bytes != nullptr)
        *bytes = 0;
    if (ready == 0)
        return 0;
    ready = 0;
    if (block != nullptr)
        *block = result;
    if (bytes != nullptr)
        *bytes = resultBytes;
    return resultBytes;
}

} // namespace sigkit
