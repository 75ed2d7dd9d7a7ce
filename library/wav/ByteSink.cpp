#include "wav/ByteSink.h"

#include <cerrno>

namespace sigkit {

FileSink::FileSink(int descriptor) : fd(descriptor)
{
}

FileSink::~FileSink()
{
    Close();
}

WriteResult FileSink::WriteAt(const void* buffer, std::size_t count, uint64_t offset)
{
    if (fd < 0)
    {
        errno = EBADF;
        return {0, false};
    }
    return platform::WriteAt(fd, buffer, count, offset);
}

int FileSink::Close()
{
    if (fd < 0)
        return 0;
    const int closed = platform::CloseFile(fd);
    fd = -1;
    return closed;
}

StreamSink::StreamSink(StreamWrite writer, void* writerContext)
    : write(writer), context(writerContext)
{
}

StreamSink::StreamSink(int descriptor) : fd(descriptor)
{
}

WriteResult StreamSink::WriteAt(const void* buffer, std::size_t count, uint64_t offset)
{
    if (offset != written)
    {
        errno = ESPIPE;
        return {0, false};
    }
    const WriteResult result =
        write != nullptr ? write(context, buffer, count) : platform::WriteNext(fd, buffer, count);
    written += result.written;
    return result;
}

} // namespace sigkit
