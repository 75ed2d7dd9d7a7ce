#pragma once

#include "Messages.h"
#include "ProcessingBlock.h"
#include "Values.h"
#include "sigkit.h"

#include <cstdint>
#include <string>

namespace sigrun {

// The channels and rate of a mode's output for an input and the settings.
struct OutputShape
{
    uint16_t channels = 0;
    uint32_t sampleRate = 0; // Hz
};
using OutputRule = OutputShape (*)(const WavDescription& input, const Settings& settings);

inline constexpr int kMostValues = 6;

// One processing mode: everything the dialogue, the options and the pass know of it. A new mode
// is one row of the table in ProcessingModes.cpp.
struct ModeRow
{
    int menu;           // the dialogue's menu answer; 0 for a mode of the options only
    const char* word;   // the options' mode word
    const char* family; // the library's export prefix: family_init, family_data, family_free;
                        // null for the kinds that only the sigkit_ interface has
    BlockStarter start; // builds the family's record and creates its block (null: no family)
    OutputRule output;  // the output's channels and rate (null: no family)
    const char* suffix; // the output name's ending
    int valueCount;
    Value values[kMostValues]; // asked in this order by the dialogue; given as options
    int kind;                  // the sigkit_ interface's kind (enum sigkit_kind)
    unsigned optional;         // bits (1 << Value) of the values that may be left out
};

// True for the modes that only the sigkit_ interface processes (no export family).
bool IsChainMode(int mode);
// True for the receivers (am, fm, wfm, usb, lsb, cw): I/Q in, audio out.
bool IsReceiverMode(int mode);

// The modes are numbered from 1 in the order of the table.
int ModeCount();
const ModeRow& Mode(int mode);
// The mode of a menu answer or of an option word; 0 when there is none.
int ModeByMenu(long answer);
int ModeByWord(const char* word);
// The option word of a mode ("" for a number outside the table).
const char* ModeWord(int mode);
// The option words of every mode in table order, joined by separator, the last by lastSeparator:
// "iq, resample, ... am or fm".
std::string ModeWords(const char* separator, const char* lastSeparator);
// True when the mode takes the value.
bool ModeTakes(int mode, Value value);
// True when the mode takes the value and cannot do without it.
bool ModeNeeds(int mode, Value value);

// The output's description: the input's format tag and sample width, the mode's channels and
// rate, the name given.
WavDescription OutputDescription(int mode, const Settings& settings, const WavDescription& input,
                                 const char* outputName);

// Output name: the input's file name without its last four characters (the extension and its
// dot), then the mode's suffix, in folder when one is given (else beside the input). A file name
// of fewer than four characters is kept whole. False when the name would not fit.
bool MakeOutputName(int mode, const char* inputName, const char* folder,
                    char (&outputName)[kTextSize]);

} // namespace sigrun
