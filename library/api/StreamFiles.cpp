// WAV streams on the caller's descriptors: read in order with the header once, written in order
// with a header that declares no length. The readers and writers are those of WavFiles.cpp.
#include "sigkit_api.h"

#include "api/Config.h"
#include "api/WavHandles.h"
#include "wav/ByteSink.h"
#include "wav/ByteSource.h"

#include <memory>

using sigkit::api::Guard;
using sigkit::api::kWindowCount;
using sigkit::api::StatusOfErrno;

extern "C" {

SIGKIT_PUBLIC int sigkit_wav_open_fd(int fd, sigkit_wav_info* info, sigkit_wav_reader** reader)
{
    return Guard([&]() -> int {
        if (reader == nullptr)
            return SIGKIT_E_NULL;
        *reader = nullptr;
        if (info == nullptr)
            return SIGKIT_E_NULL;
        if (const int checked = sigkit::api::CheckInfoRecord(info); checked != SIGKIT_OK)
            return checked;
        if (fd < 0)
            return SIGKIT_E_INVALID;
        auto made = std::make_unique<sigkit_wav_reader>();
        made->stream = true;
        made->file = std::make_unique<sigkit::FileWAV_VeryFast>(kWindowCount);
        if (made->file->Open(std::make_unique<sigkit::StreamSource>(fd)) < 0)
            return StatusOfErrno(made->file->LastError());
        sigkit_wav_info found{};
        found.size = sizeof found;
        const int status = sigkit::api::DescribeWav(*made, found);
        if (status != SIGKIT_OK)
            return status;
        return sigkit::api::Deliver(std::move(made), found, info, reader);
    });
}

SIGKIT_PUBLIC int sigkit_wav_create_fd(int fd, const sigkit_wav_format* shape,
                                       sigkit_wav_writer** writer)
{
    return Guard([&]() -> int {
        if (writer == nullptr)
            return SIGKIT_E_NULL;
        *writer = nullptr;
        if (shape == nullptr)
            return SIGKIT_E_NULL;
        sigkit_wav_format full{};
        int status = sigkit::api::ReadRecord(shape, SIGKIT_WAV_FORMAT_SIZE_V1, sizeof full, &full);
        if (status != SIGKIT_OK)
            return status;
        // Nothing is published on a stream: no flags apply.
        status = sigkit::api::CheckWavFormat(full, 0);
        if (status != SIGKIT_OK)
            return status;
        if (fd < 0)
            return SIGKIT_E_INVALID;
        auto made = std::make_unique<sigkit_wav_writer>();
        made->stream = true;
        made->file = std::make_unique<sigkit::FileWAV_VeryFast>(kWindowCount);
        sigkit::api::PrepareWriter(*made);
        if (made->file->Create(std::make_unique<sigkit::StreamSink>(fd)) < 0)
            return StatusOfErrno(made->file->LastError());
        status = sigkit::api::StartWav(*made, full);
        if (status != SIGKIT_OK)
            return status;
        *writer = made.release();
        return SIGKIT_OK;
    });
}

} // extern "C"
