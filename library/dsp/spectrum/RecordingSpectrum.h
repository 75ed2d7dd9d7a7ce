#pragma once

#include "dsp/spectrum/SpectrumPicture.h"
#include "dsp/spectrum/StationFinder.h"
#include "dsp/spectrum/Waterfall.h"
#include "wav/ByteSource.h"
#include "wav/Metadata.h"

#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>

// A recording's spectra in one pass over its file: the waterfall for its picture, the averaged
// spectrum for its station list. The file streams through a fixed window: a recording of any
// length takes the same memory.
namespace sigkit {

struct SpectrumRequest
{
    int32_t width = 1200; // picture, pixels (the waterfall is laid out to fit it)
    int32_t height = 800;
    // A power of two from 32 to 2^20; 0: the least that gives every column of the band shown its
    // own bin, from 64 to 65536, and no longer than half the recording.
    int32_t fftSize = 0;
    double startSeconds = 0.0;  // the part analysed: its start in the recording
    double lengthSeconds = 0.0; // its length; 0: to the end
    // The band shown, as offsets from the recording's 0 Hz (its centre, for I/Q); width 0: all.
    double spanCentreHz = 0.0;
    double spanWidthHz = 0.0;
    // Set when the file says nothing of them (--centre, --start).
    std::optional<double> centreHz;
    std::optional<UtcNanoseconds> startTime;
};

struct RecordingSpectrum
{
    std::string name;  // the file's name without its folders
    Metadata metadata; // the file's auxi chunk, its name, and the request, in that order
    double rate = 0.0; // Hz
    bool complex = true;
    uint64_t framesInFile = 0;    // as the header declares (0 for a stream)
    double offsetSeconds = 0.0;   // the part analysed: where it begins
    double durationSeconds = 0.0; // and its length
    PictureLayout layout;
    Spectra spectra;
};

enum class SpectrumStatus : int32_t
{
    Done,
    CannotOpen,    // the file cannot be opened (errno tells why)
    NotReadable,   // no WAV format whose samples can be analysed (1 or 2 channels of PCM/float)
    BadRequest,    // an FFT size, span or time outside what the recording holds
    NothingToShow, // no sample in the part asked for
};
const char* StatusText(SpectrumStatus status);

// Analyses a file; I/Q when it has two channels, real samples when it has one.
SpectrumStatus AnalyseRecording(const char* path, const SpectrumRequest& request,
                                RecordingSpectrum& out);
// The same from any byte source (standard input, memory); `name` labels the picture.
SpectrumStatus AnalyseRecording(std::unique_ptr<ByteSource> source, const std::string& name,
                                const SpectrumRequest& request, RecordingSpectrum& out);

// The picture of an analysed recording; levels NaN: automatic.
RgbImage DrawRecording(const RecordingSpectrum& recording,
                       double dbLow = std::numeric_limits<double>::quiet_NaN(),
                       double dbHigh = std::numeric_limits<double>::quiet_NaN());

// The stations of an analysed recording, in the band shown.
StationList RecordingStations(const RecordingSpectrum& recording, int32_t maxStations = 20);

} // namespace sigkit
