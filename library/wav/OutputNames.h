#pragma once

#include "wav/WavLayout.h"

#include <cstddef>

namespace sigkit {

// The names around one output file. The file is written under a temporary name in the output's
// folder (hidden: a dot, the output's file name, the process id and a number, ".tmp"), created
// exclusively with the permissions of a normal create. Completed, it is published under the
// output name: renamed onto it, so that a link at the name is replaced, never followed, and the
// name only ever holds a complete file; or, in the no-replace mode, only when nothing holds the
// name yet. Not completed, it is kept beside the output as NAME.partial.wav (NAME: the output
// name without ".wav"; another extension, such as a raw output's, takes the place of ".wav"), and
// the output name keeps what it held.
class OutputNames
{
public:
    // Room for an output path and what is added to it.
    static constexpr std::size_t kCapacity = kPathCapacity + 64;

    // Derives the names from the output path and creates the temporary file. The output name may
    // be missing, a file or a link; a folder (EISDIR) or a device, FIFO or socket (EINVAL) is
    // refused. extension: what the partial file's name ends in (".wav"; "" for none). Result: the
    // temporary's descriptor, or -1 with errno.
    int Begin(const char* outputPath, const char* extension = ".wav");
    // A file already made under its final name (a time-named file): written in place, nothing to
    // publish. The partial name is derived as for any other.
    bool Adopt(const char* outputPath);
    // No file: nothing to publish or keep.
    void Clear();
    bool Active() const { return written[0] != '\0'; }

    // Publishes the temporary under the output name; 0, or -1 with errno (EEXIST in the
    // no-replace mode when the name is taken).
    int Publish(bool noReplace);
    // Keeps what was written as the partial file, replacing an older one. When the rename fails
    // the bytes stay where they were written. Result 0, or -1 with errno; Kept() names the file.
    int KeepPartial();
    // Removes the temporary (a file that never received its header).
    void Discard();

    const char* Output() const { return output; }
    const char* Written() const { return written; }
    // Where the bytes of a run that did not complete are, "" when nowhere yet.
    const char* Kept() const { return kept; }

private:
    bool DerivePartial(const char* extension);

    char output[kPathCapacity]{};
    char written[kCapacity]{}; // the temporary, or the output itself when written in place
    char partial[kCapacity]{};
    char kept[kCapacity]{};
    bool inPlace = false;
};

} // namespace sigkit
