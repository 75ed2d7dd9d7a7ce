#pragma once

#include "LibraryBinding.h"
#include "Messages.h"
#include "StreamEnds.h"

#include <cstdint>
#include <string>

namespace sigrun {

// One input WAV file, read through the library's reading block. The one way both the dialogue
// and the options open their inputs.
class InputFile
{
public:
    explicit InputFile(const LibraryBinding& binding) : binding(binding) {}
    ~InputFile() { Close(); }
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // True when name names an existing regular file that can be opened for reading (checked
    // without blocking on FIFOs or devices); otherwise failure says so, naming the file.
    static bool Readable(const char* name, std::string& failure);

    // Checks the name (its length and Readable), then opens the file through the reading block,
    // which fills the description. False with the reason in failure (one line naming the file).
    // "-" is standard input (a WAV stream unless a raw type is set); a file whose extension
    // names a raw type, or any input once a type is set, holds raw samples.
    bool Open(const char* name, std::string& failure);
    // Raw samples of this type (nullptr: WAV, or the type of the extension) at rate Hz.
    void SetRaw(const RawType* type, double rate)
    {
        rawType = type;
        rawRate = rate;
    }
    // The raw type an input of this name is read as, or nullptr for WAV.
    const RawType* RawTypeFor(const char* name) const;
    // True when the input is read as a stream or raw samples rather than a WAV file.
    bool Streamed() const { return streamed; }
    // Frees the reading block; the description stays.
    void Close();

    const char* Name() const { return name; }
    const WavDescription& Description() const { return description; }
    // The reading block of the open file (null when none), for the library's calls on it.
    const WavReadHandle* Handle() const { return reader; }
    // The next block of stored sample bytes, valid until the next call; false at the end.
    bool Next(const void*& block, int32_t& bytes);
    // A read that failed before the end (a stream's error): one line, "" when none.
    std::string ReadFailure() const { return streamed ? stream.Failure() : ""; }
    // The sample bytes the header declares (0 when the reading block cannot tell).
    uint64_t DeclaredBytes() const;
    // Once the data is read: a warning when it ended before the length its header declares (a
    // recording cut off, a file truncated while it was read), "" otherwise.
    std::string EndedEarly() const;

private:
    const LibraryBinding& binding;
    char name[kTextSize]{};
    WavDescription description{};
    WavReadHandle* reader = nullptr;
    StreamInput stream{binding.stream};
    bool streamed = false;
    const RawType* rawType = nullptr;
    double rawRate = 0.0;
};

// Why the described input cannot be processed, or nullptr when it can: integer PCM of 8, 16, 24
// or 32 bits (and, when floatAccepted, 32-bit float), 1 or 2 channels, a rate within 32 bits.
const char* UnsupportedReason(const WavDescription& input, bool floatAccepted);

} // namespace sigrun
