#pragma once

#include "platform/DynamicLibrary.h"
#include "sigkit_api.h"

namespace sigrun {

// The calls of the library's sigkit_ interface that the chain kinds, the receivers and the
// output encodings go through, looked up once when the library is loaded. A call the library
// lacks stays null; Complete says whether every one is there.
struct SigkitCalls
{
    const char* (*strerror)(int) = nullptr;
    int (*configInit)(sigkit_config*, int) = nullptr;
    int (*create)(const sigkit_config*, sigkit_processor**) = nullptr;
    int (*maxOutput)(const sigkit_processor*, size_t, size_t*) = nullptr;
    int (*process)(sigkit_processor*, const float*, size_t, float*, size_t, size_t*) = nullptr;
    int (*flush)(sigkit_processor*, float*, size_t, size_t*) = nullptr;
    int (*outputLayout)(const sigkit_processor*, int*, int*, double*) = nullptr;
    void (*destroy)(sigkit_processor*) = nullptr;
    int (*formatInit)(sigkit_wav_format*, int, double, int) = nullptr;
    int (*wavCreate)(const char*, const sigkit_wav_format*, sigkit_wav_writer**) = nullptr;
    // Standard output: a WAV stream, or raw samples.
    int (*wavCreateFd)(int, const sigkit_wav_format*, sigkit_wav_writer**) = nullptr;
    int (*rawFormatInit)(sigkit_raw_format*, int, double, int) = nullptr;
    int (*rawCreateFd)(int, const sigkit_raw_format*, sigkit_wav_writer**) = nullptr;
    int (*wavWrite)(sigkit_wav_writer*, const float*, size_t) = nullptr;
    int (*wavClipped)(const sigkit_wav_writer*, uint64_t*) = nullptr;
    int (*wavClose)(sigkit_wav_writer*) = nullptr;
    int (*wavAbandon)(sigkit_wav_writer*) = nullptr;

    void Bind(platform::DynamicLibrary& library);
    // The name of the first call the library lacks, or null when it has them all.
    const char* FirstMissing() const;
    // The library's text for a status ("unknown status" without the library's own).
    const char* Text(int status) const;
};

} // namespace sigrun
