#include "wav/LoadWav.h"

#include "Text.h"
#include "wav/ByteOrder.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace sigkit {

namespace {

// The standard decimal reading of a block size, limited to the block's range.
int32_t ParseBlockSize(const char* text)
{
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(text != nullptr ? text : "", &end, 10);
    return static_cast<int32_t>(
        std::clamp<long long>(value, LoadWav::kMinBlock, LoadWav::kMaxBlock));
}

} // namespace

LoadWav::LoadWav() : file(std::make_unique<FileWAV_VeryFast>(16384))
{
}

LoadWav::~LoadWav()
{
    if (fileOpen != 0)
        file->Close();
}

int32_t LoadWav::SetParam(const char* name, const char* value)
{
    if (TextIs(name, "SizeBlock"))
        blockSize = ParseBlockSize(value);
    else if (TextIs(name, "Mode"))
    {
        if (TextIs(value, "SimName"))
            nameMode = 0;
        else if (TextIs(value, "FullName"))
            nameMode = 1;
    }
    return 0;
}

bool LoadWav::StoreText(char* field, std::size_t size, const void* text, int32_t count)
{
    const auto* chars = static_cast<const char*>(text);
    if (chars == nullptr)
        return CopyText(field, size, "");
    // The text ends at its terminator, which must lie within the count given (when one is).
    const std::size_t limit = count > 0 ? static_cast<std::size_t>(count) : size;
    const std::size_t length = strnlen(chars, std::min(limit, size));
    if (length >= size || length >= limit)
        return false;
    std::memcpy(field, chars, length);
    field[length] = '\0';
    return true;
}

int32_t LoadWav::Put(int32_t port, const void* data, int32_t count)
{
    bool refused = false;
    switch (port)
    {
    case 0:
        refused = !StoreText(namePart, sizeof namePart, data, count);
        nameGiven = refused ? 0 : 1;
        break;
    case 1:
        refused = !StoreText(extensionPart, sizeof extensionPart, data, count);
        extensionGiven = refused ? 0 : 1;
        break;
    case 2:
        refused = !StoreText(directoryPart, sizeof directoryPart, data, count);
        directoryGiven = refused ? 0 : 1;
        break;
    case 3:
        if (fileOpen != 0)
        {
            readRequested = 1;
            return count;
        }
        break;
    default:
        break;
    }
    if (refused)
    {
        openError = ENAMETOOLONG;
        return 0;
    }

    // The opening rule.
    if (nameMode == 1)
    {
        if (nameGiven == 0)
            return 0;
        if (!CopyText(path, namePart))
            return 0;
    }
    else
    {
        if (nameGiven == 0 || extensionGiven == 0 || directoryGiven == 0)
            return 0;
        const std::size_t dir = std::strlen(directoryPart);
        const std::size_t name = std::strlen(namePart);
        const std::size_t ext = std::strlen(extensionPart);
        if (dir + 1 + name + ext + 1 > sizeof path)
        {
            openError = ENAMETOOLONG;
            return 0;
        }
        std::memcpy(path, directoryPart, dir);
        path[dir] = '/';
        std::memcpy(path + dir + 1, namePart, name);
        std::memcpy(path + dir + 1 + name, extensionPart, ext + 1);
    }
    return OpenFile(count);
}

int32_t LoadWav::OpenFile(int32_t count)
{
    // A file left open by an earlier name is released first.
    if (fileOpen != 0)
    {
        file->Close();
        fileOpen = 0;
    }
    // Opened for reading only: a file that is missing or cannot be read is not opened, and
    // nothing waits.
    return Opening(file->Open(path, 0), count);
}

int32_t LoadWav::Open(std::unique_ptr<ByteSource> source)
{
    if (fileOpen != 0)
    {
        file->Close();
        fileOpen = 0;
    }
    path[0] = '\0';
    return Opening(file->Open(std::move(source)), 1);
}

int32_t LoadWav::Opening(int32_t result, int32_t count)
{
    if (result < 0)
    {
        openError = file->LastError();
        return 0;
    }
    openError = 0;
    fileOpen = 1;
    nameGiven = 0;
    readRequested = 1;
    endReached = 0;
    opened = true;
    declared = file->DeclaredSize();
    delivered = 0;
    return count;
}

uint64_t LoadWav::DeclaredBytes() const
{
    return declared == kUnknownLength ? delivered : declared;
}

int32_t LoadWav::Get(int32_t port, const void** block, int32_t* count)
{
    if (count == nullptr)
        return 0;
    *count = 0;
    if (port == 0 && readRequested != 0 && fileOpen != 0)
    {
        const int32_t got = file->Read(buffer.data(), blockSize);
        if (block != nullptr)
            *block = buffer.data();
        *count = got;
        if (got > 0)
        {
            readRequested = 0;
            delivered += static_cast<uint64_t>(got);
        }
        else
        {
            file->Close();
            fileOpen = 0;
            endReached = 1;
        }
    }
    else if (port == 1 && endReached != 0)
    {
        endReached = 0;
        readRequested = 0;
        StoreU32(endNotice.data(), 4);
        if (block != nullptr)
            *block = endNotice.data();
        *count = static_cast<int32_t>(endNotice.size());
    }
    return *count;
}

} // namespace sigkit
