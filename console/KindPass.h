#pragma once

#include "InputFile.h"
#include "LibraryBinding.h"
#include "Pass.h"
#include "RecordingOptions.h"
#include "Values.h"

#include <string>

namespace sigrun {

// True when the settings' mode runs through the library's sigkit_ interface for this input
// rather than through its export family: the chain kinds and the receivers always, the original
// kinds when --encoding asks for another encoding than the input's.
bool UsesKindPass(const Settings& settings, const WavDescription& input);

// The encoding of the output: --encoding, else 16-bit for the receivers and the input's own for
// the other kinds.
int OutputEncoding(const Settings& settings, const WavDescription& input);

// The processing configuration of the settings for an input. The gain of the original
// demodulators is in the file's own scale (their output is the formula times the gain, in the
// input's integer units), so it is divided by the input's full scale here.
sigkit_config KindConfig(const SigkitCalls& api, const Settings& settings,
                         const WavDescription& input);

// Why the settings can give no output from the input (the text of a usage error naming the
// option, the input and the reason), or "" when they can. Beyond the checks of the options
// themselves, the library is asked to make the processing for the input's rate and channels.
std::string KindRefusal(const SigkitCalls& api, const Settings& settings, const char* inputName,
                        const WavDescription& input);

// RunPass for the modes of UsesKindPass: the input's samples as floats through the library's
// processing object, the output written in the chosen encoding (rounded and limited to its range;
// the samples at its ends are counted as clipped), published only when complete. Same contract
// as RunPass.
// The new modes' outputs carry the input's centre frequency (moved by -f) and start time, or
// those of recording (--centre, --start) where the input tells none.
int RunKindPass(const LibraryBinding& binding, const Settings& settings, InputFile& input,
                const char* outputName, bool noReplace, PassProgress& progress, PassCounts* counts,
                const RecordingOptions* recording = nullptr);

} // namespace sigrun
