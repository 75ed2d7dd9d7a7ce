#pragma once

#include "LibraryBinding.h"

#include <cstdint>

namespace sigrun {

// One output WAV file, written through the library's writing block. Errors are the errno values
// the block leaves (EIO when it leaves none).
class OutputFile
{
public:
    explicit OutputFile(const LibraryBinding& binding) : binding(binding) {}
    // Completes a file still open, as Complete does.
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates the file that the description names, with its format.
    bool Create(const WavDescription& description, int& error);
    // Appends a block of stored sample bytes; a count of 0 writes nothing.
    bool Write(const void* block, int32_t bytes, int& error);
    // Completes the header and closes the file (wav_write_free). On a failure the file keeps
    // what was written, with a true header.
    bool Complete(int& error);

private:
    const LibraryBinding& binding;
    WavWriteHandle* writer = nullptr;
};

} // namespace sigrun
