#pragma once

#include "wav/ByteSink.h"
#include "wav/OutputNames.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace sigkit {

// Sample bytes without a header, written in order as they come: to a file published under its
// name once complete (written under a temporary name beside it until then, as the WAV outputs
// are; see OutputNames), or to a stream. Nothing is held back: each Write reaches the sink before
// it returns.
//
// A file not completed (a failed write, an abandoned run) is kept as NAME.partial.EXT, EXT being
// the output's own extension ("out.cu8" -> "out.partial.cu8"; "out" -> "out.partial").
class RawOutput
{
public:
    RawOutput() = default;
    // An output still open is abandoned.
    ~RawOutput();
    RawOutput(const RawOutput&) = delete;
    RawOutput& operator=(const RawOutput&) = delete;

    // Starts the file for path; noReplace: publish only where nothing holds the name (see
    // FileWAV_VeryFast::SetNoReplace). Result 0, or -1 (LastError tells why).
    int Create(const char* path, bool noReplace);
    // Writes into a sink, which Close and Abandon close (a stream sink leaves its descriptor
    // open). Result 0, or -1 when there is none.
    int Create(std::unique_ptr<ByteSink> bytes);

    // Appends count bytes; false when they did not all arrive. After a failure every later write
    // fails.
    bool Write(const void* bytes, std::size_t count);
    // Ends the output: a file is published under its name. Result 0; -1 when anything failed, a
    // file's bytes then kept as the partial file (or, a name taken in the no-replace mode,
    // removed).
    int Close();
    // Gives the output up: a file's bytes are kept as the partial file, the name is not touched.
    // Result 0, or -1 when the partial file could not be made.
    int Abandon();

    bool Failed() const { return failed; }
    // The errno of the first failure, 0 when none.
    int LastError() const { return lastError; }
    // Bytes that reached the sink.
    uint64_t Written() const { return written; }
    // Where the bytes of a file not completed are ("" when nowhere).
    const char* PartialPath() const { return names.Kept(); }

private:
    void NoteFailure(int error);
    // Closes the sink; false when that failed.
    bool Release();

    std::unique_ptr<ByteSink> sink;
    OutputNames names;
    bool noReplace = false;
    bool failed = false;
    int lastError = 0;
    uint64_t written = 0;
};

} // namespace sigkit
