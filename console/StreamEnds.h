#pragma once

// The ends of a run that are not WAV files on disk: standard input and output ("-"), and raw
// samples without a header (named with --type or by their extension). They are read and written
// through the library's stream and raw calls, and seen by the rest of the program as WAV files
// are: a description and blocks of stored sample bytes.
#include "LibraryBinding.h"

#include <cstdint>
#include <string>
#include <vector>

namespace sigrun {

// The name that stands for standard input as an input and standard output as an output.
inline constexpr const char* kStandardStream = "-";
bool IsStandardStream(const std::string& name);

// A raw sample type, with the WAV format its bytes are processed as.
struct RawType
{
    int type;          // enum sigkit_sample_type
    const char* name;  // "cu8"
    uint16_t tag;      // WAV format tag of the processing: 1 integer PCM, 3 float
    uint16_t bits;     // bits of one sample
    uint16_t channels; // 2 for the complex (I/Q) types
    bool signed8;      // signed 8-bit bytes, processed as WAV's unsigned 8-bit ones
};

// The type of a name ("cu8", either case), of a file name's extension (".cu8", ".cs8", ".cs16",
// ".cf32"), or of a number; nullptr when none.
const RawType* RawTypeByName(const std::string& name);
const RawType* RawTypeOfPath(const std::string& path);
const RawType* RawTypeByNumber(int type);
// "cu8, cs8, ..." for messages and the help.
std::string RawTypeNames();

// An input on standard input (a WAV stream, or raw samples of a given type) or raw samples in a
// file. Blocks hold what has arrived, at most kStreamBlockSeconds of samples (and 64 KiB), so
// that a live stream is processed as it comes.
class StreamInput
{
public:
    explicit StreamInput(const StreamExports& calls) : calls(calls) {}
    ~StreamInput() { Close(); }
    StreamInput(const StreamInput&) = delete;
    StreamInput& operator=(const StreamInput&) = delete;

    // Opens name ("-": standard input) as raw samples of type raw at rate Hz, or, raw null, as a
    // WAV stream; fills the description (its name already set). False with one line in failure.
    bool Open(const char* name, const RawType* raw, double rate, WavDescription& description,
              std::string& failure);
    void Close();
    // The next block of stored sample bytes, valid until the next call; false at the end.
    bool Next(const void*& block, int32_t& bytes);
    // A read that failed (rather than ended): one line, "" when none did.
    const std::string& Failure() const { return failure; }

private:
    const StreamExports& calls;
    sigkit_wav_reader* reader = nullptr;
    std::string name;
    std::size_t frameBytes = 0;
    std::size_t blockFrames = 0;
    bool signed8 = false;
    std::vector<uint8_t> buffer;
    std::string failure;
};

// Seconds of input in one block read from a stream (at most; less when less has arrived).
inline constexpr double kStreamBlockSeconds = 0.1;

// An output on standard output: a WAV stream whose header declares no length, or raw samples of
// a type. Every block is handed on before Write returns.
class StreamOutput
{
public:
    explicit StreamOutput(const StreamExports& calls) : calls(calls) {}
    ~StreamOutput() { Abandon(); }
    StreamOutput(const StreamOutput&) = delete;
    StreamOutput& operator=(const StreamOutput&) = delete;

    // Starts the stream for samples of the description's format; raw: that type instead of WAV.
    // False with errno-like error (EINVAL for a format the type cannot hold).
    bool Create(const WavDescription& description, const RawType* raw, int& error);
    bool Write(const void* block, int32_t bytes, int& error);
    // Ends the stream (a WAV stream with no samples gets its header now). Result: 0 or an errno.
    int Close();
    void Abandon();
    // True when the samples are converted into the raw type; Clipped() then counts the samples
    // that the conversion put at either end of the type's range (so far; kept after Close).
    bool Converts() const { return convert; }
    uint64_t Clipped() const { return clipped; }

private:
    const StreamExports& calls;
    sigkit_wav_writer* writer = nullptr;
    bool convert = false; // stored bytes go through floats into the raw type
    bool flip = false;    // 8-bit bytes go out signed
    uint16_t tag = 0;
    uint16_t bits = 0;
    uint16_t channels = 0;
    std::vector<float> floats;
    std::vector<uint8_t> flipped;
    uint64_t clipped = 0;
};

// errno for a library status of the stream calls.
int ErrorOfStatus(int status);

} // namespace sigrun
