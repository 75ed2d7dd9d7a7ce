#include "wav/RawOutput.h"

#include <cerrno>
#include <cstring>

namespace sigkit {

namespace {

// The extension of the path's file name (".cu8"), "" when it has none. A leading dot makes a
// hidden name, not an extension.
const char* ExtensionOf(const char* path)
{
    const char* slash = std::strrchr(path, '/');
    const char* name = slash != nullptr ? slash + 1 : path;
    const char* dot = std::strrchr(name, '.');
    return dot != nullptr && dot != name ? dot : "";
}

} // namespace

RawOutput::~RawOutput()
{
    if (sink != nullptr)
        Abandon();
}

void RawOutput::NoteFailure(int error)
{
    if (!failed)
        lastError = error != 0 ? error : EIO;
    failed = true;
}

int RawOutput::Create(const char* path, bool exclusive)
{
    if (sink != nullptr)
        Abandon();
    failed = false;
    lastError = 0;
    written = 0;
    noReplace = exclusive;
    if (path == nullptr)
    {
        NoteFailure(ENOENT);
        return -1;
    }
    const int fd = names.Begin(path, ExtensionOf(path));
    if (fd < 0)
    {
        NoteFailure(errno);
        return -1;
    }
    sink = std::make_unique<FileSink>(fd);
    return 0;
}

int RawOutput::Create(std::unique_ptr<ByteSink> bytes)
{
    if (sink != nullptr)
        Abandon();
    names.Clear();
    failed = false;
    lastError = 0;
    written = 0;
    if (bytes == nullptr)
    {
        NoteFailure(EINVAL);
        return -1;
    }
    sink = std::move(bytes);
    return 0;
}

bool RawOutput::Write(const void* bytes, std::size_t count)
{
    if (sink == nullptr || failed)
        return false;
    if (count == 0)
        return true;
    const WriteResult result = sink->WriteAt(bytes, count, written);
    written += result.written;
    if (!result.ok)
        NoteFailure(errno);
    return result.ok;
}

bool RawOutput::Release()
{
    if (sink == nullptr)
        return true;
    const int closed = sink->Close();
    sink.reset();
    if (closed != 0)
        NoteFailure(errno);
    return closed == 0;
}

int RawOutput::Close()
{
    if (sink == nullptr)
        return failed ? -1 : 0;
    Release();
    if (!failed && names.Publish(noReplace) != 0)
    {
        const int error = errno;
        NoteFailure(error);
        if (noReplace && error == EEXIST)
        {
            // Another writer published first: this one leaves nothing behind.
            names.Discard();
            return -1;
        }
    }
    if (failed)
    {
        names.KeepPartial();
        return -1;
    }
    return 0;
}

int RawOutput::Abandon()
{
    Release();
    return names.KeepPartial() == 0 ? 0 : -1;
}

} // namespace sigkit
