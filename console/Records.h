#pragma once

#include "Values.h"
#include "sigkit.h"

namespace sigrun {

// The processing records and the words they carry. The words are the library's vocabulary; the
// console spells them here and nowhere else.

// The record's quality word for level 1 (Low), 2 (Medium) or 3 (High).
const char* QualityWord(int level);

// The records of the three record shapes, filled from the settings and the input: every field
// the shape has, the quality only when one was recognised. The sample format word follows the
// input's stored samples ("8 bits  (unsigned)": 8-bit WAV samples are unsigned).
BlockParams MakeBlockParams(const Settings& settings, const WavDescription& input);
IqParams MakeIqParams(const Settings& settings, const WavDescription& input);
InvertParams MakeInvertParams(const Settings& settings, const WavDescription& input);

} // namespace sigrun
