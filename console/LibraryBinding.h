#pragma once

#include "SigkitCalls.h"
#include "platform/DynamicLibrary.h"
#include "sigkit.h"
#include "sigkit_api.h"

#include <string>
#include <vector>

namespace sigrun {

// The library, bound by its file name at run time.
inline constexpr const char* kLibraryName = "libsigkit.so";

// The three exports of one processing family; null where the library has none of that name.
struct FamilyExports
{
    std::string prefix;   // "resampl"
    std::string initName; // "resampl_init"
    std::string dataName;
    std::string freeName;
    void* init = nullptr;
    void* data = nullptr;
    void* release = nullptr;
    // sigkit_block_prepare, the first part of a block on another thread (the BlockHandle
    // families'); null in a library without it.
    BlockPrepareFn prepare = nullptr;
};

// The library's calls on streams and raw samples, looked up once at load; null where missing.
struct StreamExports
{
    decltype(&sigkit_strerror) strerror = nullptr;
    decltype(&sigkit_wav_open_fd) openFd = nullptr;
    decltype(&sigkit_raw_open) rawOpen = nullptr;
    decltype(&sigkit_raw_open_fd) rawOpenFd = nullptr;
    decltype(&sigkit_wav_read_stored) readStored = nullptr;
    decltype(&sigkit_wav_close_reader) closeReader = nullptr;
    decltype(&sigkit_wav_create_fd) createFd = nullptr;
    decltype(&sigkit_raw_create_fd) rawCreateFd = nullptr;
    decltype(&sigkit_wav_write) write = nullptr;
    decltype(&sigkit_wav_write_stored) writeStored = nullptr;
    decltype(&sigkit_wav_close) close = nullptr;
    decltype(&sigkit_wav_abandon) abandon = nullptr;
    decltype(&sigkit_wav_clipped) clipped = nullptr;
};

// libsigkit.so, loaded once for the whole run, with every export that the console calls looked
// up once, at load. An export the library lacks stays null and is reported where it is first
// needed (Missing), so that a library without one family still serves the others.
class LibraryBinding
{
public:
    LibraryBinding() = default;
    LibraryBinding(const LibraryBinding&) = delete;
    LibraryBinding& operator=(const LibraryBinding&) = delete;

    // Loads the library and looks up the exports. Result: an exit status; a failure to load is
    // reported on stderr.
    int Load();
    // Unloads the library; every block it made must be freed before.
    void Unload();

    // The exports of the processing family of a mode (numbered as in the mode table).
    const FamilyExports& Family(int mode) const;

    WavReadInitFn readInit = nullptr;
    WavReadDataFn readData = nullptr;
    WavReadFreeFn readFree = nullptr;
    WavWriteInitFn writeInit = nullptr;
    WavWriteDataFn writeData = nullptr;
    WavWriteFreeFn writeFree = nullptr;
    // The calls on the writing and reading handles that publish outputs exclusively, tell where
    // the bytes of an output not published are, and tell an input that ended early.
    SigkitWavWriteNoReplaceFn writeNoReplace = nullptr;
    SigkitWavWriteFinishFn writeFinish = nullptr;
    SigkitWavWriteAbandonFn writeAbandon = nullptr;
    SigkitWavReadLengthFn readLength = nullptr;
    // The sigkit_ interface: the chain kinds, the receivers and the output encodings.
    SigkitCalls api;
    // Standard input and output, raw samples.
    StreamExports stream;
    // Recording metadata (centre frequency, start time) read from inputs and carried into
    // outputs; the processing kinds' timing; spectra, pictures and station lists.
    SigkitWavReadMetadataFn readMetadata = nullptr;
    SigkitWavWriteInitMetadataFn writeInitMetadata = nullptr;
    int (*configInit)(sigkit_config*, int) = nullptr;
    int (*create)(const sigkit_config*, sigkit_processor**) = nullptr;
    int (*latency)(const sigkit_processor*, double*) = nullptr;
    void (*destroy)(sigkit_processor*) = nullptr;
    SigkitSpectrumOpenFn spectrumOpen = nullptr;
    SigkitSpectrumGetInfoFn spectrumInfo = nullptr;
    SigkitSpectrumPictureFn spectrumPicture = nullptr;
    SigkitSpectrumStationsFn spectrumStations = nullptr;
    SigkitSpectrumDestroyFn spectrumDestroy = nullptr;
    SigkitStrerrorFn strerror = nullptr;

private:
    platform::DynamicLibrary library;
    std::vector<FamilyExports> families; // by mode number less 1
};

// The message for an export the library does not have.
std::string MissingExport(const std::string& exportName);
// Reports an export the library does not have; result: the exit status for it.
int Missing(const std::string& exportName);

// A looked-up export as the function type of its signature.
template <typename Function> Function As(void* address)
{
    return reinterpret_cast<Function>(address);
}

} // namespace sigrun
