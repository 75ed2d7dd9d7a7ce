// The sigkit_spectrum_ calls: a recording's spectra, its picture and its stations.
#include "sigkit_api.h"

#include "api/Config.h"
#include "dsp/spectrum/RecordingSpectrum.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <string>

struct sigkit_spectrum
{
    sigkit::RecordingSpectrum recording;
    int32_t maxStations = 20;
};

namespace {

template <typename Body> int Guard(Body&& body) noexcept
{
    try
    {
        return body();
    }
    catch (const std::bad_alloc&)
    {
        return SIGKIT_E_NO_MEMORY;
    }
    catch (...)
    {
        return SIGKIT_E_INTERNAL;
    }
}

int StatusOfOpenErrno(int error)
{
    switch (error)
    {
    case ENOENT:
    case ENOTDIR:
        return SIGKIT_E_NOT_FOUND;
    case EACCES:
    case EPERM:
        return SIGKIT_E_PERMISSION;
    case ENOMEM:
        return SIGKIT_E_NO_MEMORY;
    case ENAMETOOLONG:
        return SIGKIT_E_INVALID;
    default:
        return SIGKIT_E_IO;
    }
}

// The request's values in the library's terms; SIGKIT_E_INVALID for values no recording holds.
int TakeRequest(const sigkit_spectrum_request& r, sigkit::SpectrumRequest& request,
                int32_t& maxStations)
{
    const uint32_t known = SIGKIT_META_CENTRE_FREQUENCY | SIGKIT_META_START_TIME;
    if ((r.metadata & ~known) != 0 || r.width < 0 || r.height < 0 || r.fft_size < 0 ||
        r.max_stations < 0 || r.max_stations > 100000)
        return SIGKIT_E_INVALID;
    if (!std::isfinite(r.start_seconds) || r.start_seconds < 0.0 ||
        !std::isfinite(r.length_seconds) || r.length_seconds < 0.0 ||
        !std::isfinite(r.span_centre) || !std::isfinite(r.span_width) || r.span_width < 0.0)
        return SIGKIT_E_INVALID;
    request.width = r.width == 0 ? 1200 : r.width;
    request.height = r.height == 0 ? 800 : r.height;
    request.fftSize = r.fft_size;
    request.startSeconds = r.start_seconds;
    request.lengthSeconds = r.length_seconds;
    request.spanCentreHz = r.span_centre;
    request.spanWidthHz = r.span_width;
    if ((r.metadata & SIGKIT_META_CENTRE_FREQUENCY) != 0)
    {
        if (!std::isfinite(r.centre_frequency))
            return SIGKIT_E_INVALID;
        request.centreHz = r.centre_frequency;
    }
    if ((r.metadata & SIGKIT_META_START_TIME) != 0)
    {
        // Within what 64 bits of nanoseconds hold (1677 .. 2262).
        if (!(std::fabs(r.start_time) < 9.2e9))
            return SIGKIT_E_INVALID;
        request.startTime = std::llround(r.start_time * 1e9);
    }
    maxStations = r.max_stations == 0 ? 20 : r.max_stations;
    return SIGKIT_OK;
}

int StatusOf(sigkit::SpectrumStatus status, int error)
{
    switch (status)
    {
    case sigkit::SpectrumStatus::Done:
        return SIGKIT_OK;
    case sigkit::SpectrumStatus::CannotOpen:
        return StatusOfOpenErrno(error);
    case sigkit::SpectrumStatus::NotReadable:
        return SIGKIT_E_FORMAT;
    case sigkit::SpectrumStatus::BadRequest:
    case sigkit::SpectrumStatus::NothingToShow:
        return SIGKIT_E_INVALID;
    }
    return SIGKIT_E_INTERNAL;
}

} // namespace

extern "C" {

SIGKIT_PUBLIC int sigkit_spectrum_request_init(sigkit_spectrum_request* request)
{
    if (request == nullptr)
        return SIGKIT_E_NULL;
    *request = sigkit_spectrum_request{};
    request->size = sizeof *request;
    return SIGKIT_OK;
}

SIGKIT_PUBLIC int sigkit_spectrum_open(const char* path, const sigkit_spectrum_request* request,
                                       sigkit_spectrum** spectrum)
{
    return Guard([&]() -> int {
        if (spectrum == nullptr)
            return SIGKIT_E_NULL;
        *spectrum = nullptr;
        if (path == nullptr || request == nullptr)
            return SIGKIT_E_NULL;
        sigkit_spectrum_request full{};
        full.size = sizeof full;
        int status =
            sigkit::api::ReadRecord(request, SIGKIT_SPECTRUM_REQUEST_SIZE_V1, sizeof full, &full);
        if (status != SIGKIT_OK)
            return status;
        auto made = std::make_unique<sigkit_spectrum>();
        sigkit::SpectrumRequest taken;
        status = TakeRequest(full, taken, made->maxStations);
        if (status != SIGKIT_OK)
            return status;
        if (path[0] == '\0')
            return SIGKIT_E_NOT_FOUND;
        errno = 0;
        const sigkit::SpectrumStatus analysed =
            sigkit::AnalyseRecording(path, taken, made->recording);
        const int error = errno;
        status = StatusOf(analysed, error);
        if (status != SIGKIT_OK)
            return status;
        *spectrum = made.release();
        return SIGKIT_OK;
    });
}

SIGKIT_PUBLIC int sigkit_spectrum_get_info(const sigkit_spectrum* spectrum,
                                           sigkit_spectrum_info* info)
{
    return Guard([&]() -> int {
        if (spectrum == nullptr || info == nullptr)
            return SIGKIT_E_NULL;
        uint32_t size = 0;
        std::memcpy(&size, info, sizeof size);
        if (size < SIGKIT_SPECTRUM_INFO_SIZE_V1 || size > 65536)
            return SIGKIT_E_RECORD_SIZE;
        const sigkit::RecordingSpectrum& r = spectrum->recording;
        sigkit_spectrum_info found{};
        found.size = sizeof found;
        found.complex_samples = r.complex ? 1 : 0;
        found.rate = r.rate;
        found.low_frequency = r.spectra.lowHz;
        found.high_frequency = r.spectra.highHz;
        found.bin_width = r.spectra.BinWidthHz();
        found.rows = r.spectra.rows;
        found.columns = r.spectra.columns;
        found.bins = r.spectra.Bins();
        if (r.metadata.centreHz.has_value())
        {
            found.metadata |= SIGKIT_META_CENTRE_FREQUENCY;
            found.centre_frequency = *r.metadata.centreHz;
        }
        if (r.metadata.startTime.has_value())
        {
            found.metadata |= SIGKIT_META_START_TIME;
            found.start_time = static_cast<double>(*r.metadata.startTime) / 1e9;
        }
        found.offset_seconds = r.offsetSeconds;
        found.duration_seconds = r.durationSeconds;
        return sigkit::api::WriteRecord(&found, SIGKIT_SPECTRUM_INFO_SIZE_V1, sizeof found, info);
    });
}

SIGKIT_PUBLIC int sigkit_spectrum_waterfall(const sigkit_spectrum* spectrum, float* levels,
                                            size_t capacity)
{
    return Guard([&]() -> int {
        if (spectrum == nullptr || levels == nullptr)
            return SIGKIT_E_NULL;
        const sigkit::Spectra& s = spectrum->recording.spectra;
        const std::size_t count =
            static_cast<std::size_t>(s.rows) * static_cast<std::size_t>(s.columns);
        if (capacity < count || s.waterfall.size() < count)
            return SIGKIT_E_BUFFER_TOO_SMALL;
        std::memcpy(levels, s.waterfall.data(), count * sizeof(float));
        return SIGKIT_OK;
    });
}

SIGKIT_PUBLIC int sigkit_spectrum_average(const sigkit_spectrum* spectrum, double* frequencies,
                                          float* levels, size_t capacity)
{
    return Guard([&]() -> int {
        if (spectrum == nullptr)
            return SIGKIT_E_NULL;
        const sigkit::Spectra& s = spectrum->recording.spectra;
        const auto bins = static_cast<std::size_t>(s.Bins());
        if (capacity < bins)
            return SIGKIT_E_BUFFER_TOO_SMALL;
        for (std::size_t i = 0; i < bins; ++i)
        {
            if (frequencies != nullptr)
                frequencies[i] = s.BinHz(static_cast<int32_t>(i));
            if (levels != nullptr)
                levels[i] = s.averageDb[i];
        }
        return SIGKIT_OK;
    });
}

SIGKIT_PUBLIC int sigkit_spectrum_picture(const sigkit_spectrum* spectrum, double db_low,
                                          double db_high, uint8_t* rgb, size_t capacity,
                                          int32_t* width, int32_t* height)
{
    return Guard([&]() -> int {
        if (spectrum == nullptr)
            return SIGKIT_E_NULL;
        const sigkit::RecordingSpectrum& r = spectrum->recording;
        if (width != nullptr)
            *width = r.layout.width;
        if (height != nullptr)
            *height = r.layout.height;
        if (rgb == nullptr)
            return SIGKIT_OK;
        // Both levels or neither: one alone, or a range upside down, has no colour scale.
        const bool automatic = std::isnan(db_low) && std::isnan(db_high);
        if (!automatic && !(std::isfinite(db_low) && std::isfinite(db_high) && db_low < db_high))
            return SIGKIT_E_INVALID;
        const std::size_t bytes = static_cast<std::size_t>(r.layout.width) *
                                  static_cast<std::size_t>(r.layout.height) * 3;
        if (capacity < bytes)
            return SIGKIT_E_BUFFER_TOO_SMALL;
        const sigkit::RgbImage image = sigkit::DrawRecording(r, db_low, db_high);
        if (image.pixels.size() != bytes)
            return SIGKIT_E_INTERNAL;
        std::memcpy(rgb, image.pixels.data(), bytes);
        return SIGKIT_OK;
    });
}

SIGKIT_PUBLIC int sigkit_spectrum_stations(const sigkit_spectrum* spectrum, int32_t json,
                                           char* text, size_t capacity, size_t* length)
{
    return Guard([&]() -> int {
        if (length != nullptr)
            *length = 0;
        if (spectrum == nullptr)
            return SIGKIT_E_NULL;
        const sigkit::RecordingSpectrum& r = spectrum->recording;
        const sigkit::StationList list = sigkit::RecordingStations(r, spectrum->maxStations);
        const std::string out = json != 0 ? sigkit::StationsJson(list, r.metadata.centreHz, r.name)
                                          : sigkit::StationsText(list, r.metadata.centreHz, r.name);
        if (length != nullptr)
            *length = out.size();
        if (text == nullptr)
            return SIGKIT_OK;
        if (capacity <= out.size())
            return SIGKIT_E_BUFFER_TOO_SMALL;
        std::memcpy(text, out.c_str(), out.size() + 1);
        return SIGKIT_OK;
    });
}

SIGKIT_PUBLIC void sigkit_spectrum_destroy(sigkit_spectrum* spectrum)
{
    delete spectrum;
}

} // extern "C"
