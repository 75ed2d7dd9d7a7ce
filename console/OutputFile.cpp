#include "OutputFile.h"

#include "Messages.h"

#include <cerrno>

namespace sigrun {

namespace {

int ErrorLeft()
{
    return errno != 0 ? errno : EIO;
}

// Room for the partial file's path: an output name and what is added to it.
constexpr std::size_t kKeptCapacity = 2 * kTextSize;

} // namespace

OutputFile::~OutputFile()
{
    Abandon();
}

bool OutputFile::Create(const WavDescription& description, int& error, const WavReadHandle* input,
                        const sigkit_output_metadata* change)
{
    streamed = IsStandardStream(description.name);
    if (streamed)
        return stream.Create(description, raw, error);
    errno = 0;
    const bool made = change != nullptr && binding.writeInitMetadata != nullptr
                          ? binding.writeInitMetadata(description, input, change, &writer) == 1
                          : binding.writeInit(description, &writer) == 1;
    if (made && writer != nullptr)
        return true;
    writer = nullptr;
    error = ErrorLeft();
    return false;
}

bool OutputFile::NoReplace(int& error)
{
    if (streamed)
        return true;
    errno = 0;
    if (binding.writeNoReplace(writer) == 1)
        return true;
    error = ErrorLeft();
    return false;
}

bool OutputFile::Write(const void* block, int32_t bytes, int& error)
{
    if (streamed)
        return stream.Write(block, bytes, error);
    errno = 0;
    if (binding.writeData(writer, block, bytes) == 1)
        return true;
    error = ErrorLeft();
    return false;
}

OutputEnd OutputFile::Complete()
{
    OutputEnd end;
    if (streamed)
    {
        streamed = false;
        end.error = stream.Close();
        end.published = end.error == 0;
        return end;
    }
    if (writer == nullptr)
        return end;
    char kept[kKeptCapacity] = "";
    errno = 0;
    end.published = binding.writeFinish(writer, kept, sizeof kept, &end.frames) == 1;
    writer = nullptr;
    if (!end.published)
        end.error = ErrorLeft();
    end.kept = kept;
    return end;
}

OutputEnd OutputFile::Abandon()
{
    OutputEnd end;
    if (streamed)
    {
        streamed = false;
        stream.Abandon();
        return end;
    }
    if (writer == nullptr)
        return end;
    char kept[kKeptCapacity] = "";
    errno = 0;
    if (binding.writeAbandon(writer, kept, sizeof kept, &end.frames) != 1)
        end.error = ErrorLeft();
    writer = nullptr;
    end.kept = kept;
    return end;
}

} // namespace sigrun
