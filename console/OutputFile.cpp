#include "OutputFile.h"

#include <cerrno>

namespace sigrun {

namespace {

int ErrorLeft()
{
    return errno != 0 ? errno : EIO;
}

} // namespace

OutputFile::~OutputFile()
{
    int ignored = 0;
    Complete(ignored);
}

bool OutputFile::Create(const WavDescription& description, int& error)
{
    errno = 0;
    if (binding.writeInit(description, &writer) == 1 && writer != nullptr)
        return true;
    writer = nullptr;
    error = ErrorLeft();
    return false;
}

bool OutputFile::Write(const void* block, int32_t bytes, int& error)
{
    errno = 0;
    if (binding.writeData(writer, block, bytes) == 1)
        return true;
    error = ErrorLeft();
    return false;
}

bool OutputFile::Complete(int& error)
{
    if (writer == nullptr)
        return true;
    errno = 0;
    const bool closed = binding.writeFree(writer) == 1;
    writer = nullptr;
    if (!closed)
        error = ErrorLeft();
    return closed;
}

} // namespace sigrun
