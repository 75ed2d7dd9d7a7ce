#pragma once

#include "LibraryBinding.h"
#include "StreamEnds.h"

#include <cstdint>
#include <string>

namespace sigrun {

// What became of an output file at its end.
struct OutputEnd
{
    bool published = false; // the output name holds the complete file
    int error = 0;          // why not (errno; EEXIST: the name was taken in the no-replace mode)
    std::string kept;       // where what was written is kept when not published ("": nowhere)
    uint64_t frames = 0;    // sample frames published, or kept there
};

// One output WAV file, written through the library's writing block under a temporary name and
// published under its own only when complete. Errors are the errno values the block leaves (EIO
// when it leaves none).
class OutputFile
{
public:
    // raw: the sample type written instead of a WAV (standard output only); nullptr for WAV.
    explicit OutputFile(const LibraryBinding& binding, const RawType* raw = nullptr)
        : binding(binding), raw(raw)
    {
    }
    // Gives up a file still open, as Abandon does: nothing is published by accident.
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates the file that the description names, with its format; "-" is standard output,
    // written as it comes (nothing to publish, nothing kept). With a change, the output carries
    // the input's metadata (its centre frequency and start time) moved as the change says.
    bool Create(const WavDescription& description, int& error, const WavReadHandle* input = nullptr,
                const sigkit_output_metadata* change = nullptr);
    // From now on the file is published only where nothing holds its name.
    bool NoReplace(int& error);
    // Appends a block of stored sample bytes; a count of 0 writes nothing.
    bool Write(const void* block, int32_t bytes, int& error);
    // Completes the header and publishes the file; when that fails, what was written is kept as
    // the partial file (nothing, when the name was taken in the no-replace mode).
    OutputEnd Complete();
    // Gives up the file: the output name keeps what it held, what was written is kept, with a
    // true header, as the partial file.
    OutputEnd Abandon();
    // True when the output converts the samples on their way out (raw output of another type);
    // Clipped() then counts the samples that conversion clipped.
    bool CountsOwnClips() const { return stream.Converts(); }
    uint64_t Clipped() const { return stream.Clipped(); }

private:
    const LibraryBinding& binding;
    WavWriteHandle* writer = nullptr;
    const RawType* raw = nullptr;
    StreamOutput stream{binding.stream};
    bool streamed = false;
};

} // namespace sigrun
