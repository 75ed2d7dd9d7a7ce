#include "api/Config.h"

#include <cmath>
#include <cstring>

namespace sigkit::api {

namespace {

// A size beyond this is no record of any version: refused without reading it.
constexpr uint32_t kLargestRecord = 65536;

bool FiniteAtLeastZero(double value)
{
    return std::isfinite(value) && value >= 0.0;
}

} // namespace

int ReadRecord(const void* record, std::size_t firstSize, std::size_t currentSize, void* full)
{
    if (record == nullptr || full == nullptr)
        return SIGKIT_E_NULL;
    uint32_t size = 0;
    std::memcpy(&size, record, sizeof size);
    if (size < firstSize || size > kLargestRecord)
        return SIGKIT_E_RECORD_SIZE;
    const auto* bytes = static_cast<const unsigned char*>(record);
    for (std::size_t at = currentSize; at < size; ++at)
        if (bytes[at] != 0)
            return SIGKIT_E_RECORD_SIZE;
    std::memcpy(full, record, size < currentSize ? size : currentSize);
    const auto current = static_cast<uint32_t>(currentSize);
    std::memcpy(full, &current, sizeof current);
    return SIGKIT_OK;
}

int WriteRecord(const void* full, std::size_t firstSize, std::size_t currentSize, void* record)
{
    if (record == nullptr || full == nullptr)
        return SIGKIT_E_NULL;
    uint32_t size = 0;
    std::memcpy(&size, record, sizeof size);
    if (size < firstSize || size > kLargestRecord)
        return SIGKIT_E_RECORD_SIZE;
    auto* bytes = static_cast<unsigned char*>(record);
    const std::size_t known = size < currentSize ? size : currentSize;
    std::memcpy(bytes, full, known);
    std::memset(bytes + known, 0, size - known);
    // The caller's size stays: it tells the caller's own version.
    std::memcpy(bytes, &size, sizeof size);
    return SIGKIT_OK;
}

void DefaultConfig(sigkit_config& config, int kind)
{
    config = sigkit_config{};
    config.size = sizeof(sigkit_config);
    config.kind = kind;
    config.input_rate = 48000.0;
    config.complex_input = 1;
    config.channels = 1;
    config.gain = 1.0;
    config.quality = SIGKIT_QUALITY_HIGH;
    config.agc = 1;
    config.deemphasis_us = kind == SIGKIT_KIND_WFM ? 50.0 : 0.0;
    config.cw_pitch = 700.0;
    config.audio_low = 300.0;
    config.audio_high = 2700.0;
}

bool WholeInt32(double value)
{
    return std::isfinite(value) && value >= -2147483648.0 && value <= 2147483647.0 &&
           std::floor(value) == value;
}

int CheckCommon(const sigkit_config& config)
{
    if (!std::isfinite(config.input_rate) || config.input_rate <= 0.0)
        return SIGKIT_E_BAD_RATE;
    if (!FiniteAtLeastZero(config.output_rate))
        return SIGKIT_E_BAD_RATE;
    if (config.complex_input != 0 && config.complex_input != 1)
        return SIGKIT_E_INVALID;
    if (config.channels < 1 || config.channels > 1024 ||
        (config.complex_input == 1 && config.channels != 1))
        return SIGKIT_E_CHANNELS;
    if (!std::isfinite(config.gain))
        return SIGKIT_E_INVALID;
    if (config.quality < SIGKIT_QUALITY_LOW || config.quality > SIGKIT_QUALITY_BEST)
        return SIGKIT_E_INVALID;
    if (!std::isfinite(config.frequency) || std::fabs(config.frequency) > config.input_rate / 2.0)
        return SIGKIT_E_FREQUENCY;
    if (!FiniteAtLeastZero(config.band) || !FiniteAtLeastZero(config.deemphasis_us) ||
        !FiniteAtLeastZero(config.deviation) || !FiniteAtLeastZero(config.cw_pitch) ||
        !FiniteAtLeastZero(config.audio_low) || !FiniteAtLeastZero(config.audio_high))
        return SIGKIT_E_INVALID;
    if ((config.agc != 0 && config.agc != 1) || config.fft_size < 0 || config.average < 0)
        return SIGKIT_E_INVALID;
    return SIGKIT_OK;
}

} // namespace sigkit::api
