#include "OptionMode.h"

#include "Batch.h"
#include "CommandLine.h"
#include "Messages.h"

#include <cstdio>
#include <string>

#ifndef SIGRUN_VERSION
#define SIGRUN_VERSION "unknown"
#endif

namespace sigrun {

namespace {

const char* const kHelp =
    "Usage: sigrun FILE.wav\n"
    "       sigrun -m MODE [OPTION]... FILE.wav...\n"
    "       sigrun -i FILE.wav...\n"
    "       sigrun --spectrum [OPTION]... FILE.wav...\n"
    "       sigrun --stations [--json] FILE.wav...\n"
    "\n"
    "Without options sigrun reports FILE.wav, offers the processing modes and asks\n"
    "the chosen mode's values. With options it asks nothing: each FILE.wav is\n"
    "processed in turn with the same settings into its own output, and a failing\n"
    "file does not stop the others. Progress (on a terminal) and one summary line\n"
    "per file go to stderr; stdout stays empty.\n"
    "\n"
    "Modes:\n"
    "  iq        real to I/Q at half the rate, or back at twice it  NAME_iq2r.wav\n"
    "  resample  shift -f to 0 Hz, low-pass, lower the rate to -r   NAME_resampl.wav\n"
    "  convert   shift -f to 0 Hz and keep a band of -b Hz          NAME_if.wav\n"
    "  invert    spectral inversion                                 NAME_inv.wav\n"
    "  am        AM demodulation of the carrier at -f, audio at -r  NAME_amdem.wav\n"
    "  fm        FM demodulation of the carrier at -f, audio at -r  NAME_fmdem.wav\n"
    "resample, am and fm need -f, -r and -a; convert needs -f, -b and -a; iq and\n"
    "invert need nothing more. -q goes with every mode but invert.\n"
    "\n"
    "Options:\n"
    "  -m, --mode MODE       iq, resample, convert, invert, am or fm\n"
    "  -f, --frequency HZ    frequency moved to 0 Hz, from the recording's centre\n"
    "                        (negative below it); within +-rate/2 of it\n"
    "  -F, --absolute-frequency HZ\n"
    "                        the same as a radio frequency (-F 7.0655M); needs the\n"
    "                        recording's centre: from its auxi chunk, its name, or\n"
    "                        --centre\n"
    "  -r, --rate HZ         output sample rate of resample, am and fm (above 0,\n"
    "                        at most 4096 times the input's rate)\n"
    "  -b, --band HZ         band width kept by convert (above 0, at most the\n"
    "                        input's rate)\n"
    "  -a, --amplify X       gain; samples keep the file's scale (its integer range,\n"
    "                        or full scale 1 for float files)\n"
    "  -q, --quality Q       low, medium or high (default): 101, 301 or 1001 taps\n"
    "  -o, --output PATH     the output file; an existing folder receives the output\n"
    "                        under its usual name. With several inputs PATH must be\n"
    "                        an existing folder.\n"
    "  -n, --no-clobber      never overwrite an existing output: that input fails\n"
    "                        (also when another run publishes it first)\n"
    "  -Q, --quiet           no progress and no summary lines\n"
    "  -i, --info            print each file's format and length, and its centre\n"
    "                        frequency and start time when it tells them\n"
    "      --centre HZ       centre frequency of inputs that tell none (7.1M)\n"
    "      --start TIME      start time (UTC) of inputs that tell none:\n"
    "                        2024-01-01T12:00:00Z or 20240101_120000\n"
    "      --spectrum        draw each input's spectra: NAME_spectrum.png beside it\n"
    "                        (or -o PATH or FOLDER): a waterfall (time down,\n"
    "                        frequency across, I/Q from -rate/2 to +rate/2) above\n"
    "                        the averaged spectrum\n"
    "      --png PATH        the picture's file; - writes it to standard output\n"
    "      --size WxH        picture size in pixels (default 1200x800)\n"
    "      --fft N           points per transform, a power of two (default: from\n"
    "                        the band shown and the width)\n"
    "      --db LOW:HIGH     colour range in dBFS (default: from the noise floor\n"
    "                        and the peak)\n"
    "      --time START:LEN  the part drawn, in seconds (LEN empty: to the end)\n"
    "      --span CENTRE:WIDTH  the band drawn, CENTRE from the recording's\n"
    "                        centre: --span -50k:20k\n"
    "      --stations        list each input's strongest signals on stdout:\n"
    "                        frequency (absolute when the centre is known), level\n"
    "                        in dBFS and over the noise floor, bandwidth, kind;\n"
    "                        --fft, --time and --span apply to it too\n"
    "      --json            the list as JSON (several inputs: an array)\n"
    "  -h, --help            print this text\n"
    "      --version         print the version\n"
    "HZ is whole Hz and takes the suffixes k and M: 48000, 48k, 2.4M, -12.5k.\n"
    "\n"
    "Inputs are WAV files of integer PCM (8, 16, 24 or 32 bits) or 32-bit float\n"
    "samples, one channel (a real signal) or two (I/Q); outputs keep the input's\n"
    "sample format. Without -o the output goes beside its input: rec.wav gives\n"
    "rec_amdem.wav. The summary counts the output samples at full scale, which\n"
    "the conversion back to integers clipped.\n"
    "\n"
    "A recording's centre frequency and start time come from its auxi chunk, else\n"
    "from a recorder's file name (NAME_20240101_120000Z_7100kHz_IQ.wav). Outputs\n"
    "carry them in an auxi chunk, the centre moved by the shift and the start by\n"
    "the samples dropped; an input without them gives an output without it.\n"
    "\n"
    "An output is written under a hidden temporary name beside it and takes its\n"
    "name only when complete. A file stopped by SIGINT, SIGTERM or SIGHUP (which\n"
    "end the batch) or by a write error leaves the name as it was and keeps what\n"
    "was written, with a true header, as NAME.partial.wav.\n"
    "\n"
    "Exit status: 0 every file processed, 1 unusable options (nothing done: also\n"
    "a value that gives no output from an input, or an output that is another\n"
    "input of the run), 2 a file could not be processed, 128+N stopped by signal\n"
    "N (130 SIGINT, 143 SIGTERM, 129 SIGHUP).\n"
    "\n"
    "Examples:\n"
    "  sigrun -m iq rec.wav\n"
    "  sigrun -m resample -f 100k -r 48k -a 1 rec.wav\n"
    "  sigrun -m convert -f -12k -b 8k -a 1 -q medium rec.wav\n"
    "  sigrun -m invert -o mirrored.wav rec.wav\n"
    "  sigrun -m am -f 10k -r 12k -a 20000 rec.wav\n"
    "  sigrun -m fm -f 0 -r 48k -a 20000 -n -o audio/ *.wav\n"
    "  parallel sigrun -m fm -f 0 -r 48k -a 20000 -o audio/ ::: *.wav\n"
    "  sigrun -i *.wav\n"
    "  sigrun --spectrum --span 0:100k rec.wav\n"
    "  sigrun --stations --json rec.wav\n"
    "  sigrun -m am -F 7.0655M -r 12k -a 1 --centre 7.1M rec.wav\n";

} // namespace

int RunWithOptions(std::vector<std::string> args)
{
    CommandLine line;
    std::string error;
    const bool parsed = ParseCommandLine(args, line, error);
    // What the batch needs is in `line` now: the copies go before the first file is processed.
    std::vector<std::string>().swap(args);
    if (!parsed)
        return Fail(kExitUsage, error + " (sigrun --help lists the options)");
    switch (line.action)
    {
    case Action::Help:
        std::fputs(kHelp, stdout);
        return kExitSuccess;
    case Action::Version:
        std::fputs("sigrun " SIGRUN_VERSION "\n", stdout);
        return kExitSuccess;
    case Action::Info:
    case Action::Spectrum:
    case Action::Stations:
    case Action::Process:
        break;
    }
    return RunBatch(line);
}

} // namespace sigrun
