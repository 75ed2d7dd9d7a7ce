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
    "Classic modes (the dialogue's six):\n"
    "  iq          real to I/Q at half the rate, or back at twice it NAME_iq2r.wav\n"
    "  resample    shift -f to 0 Hz, low-pass, lower the rate to -r NAME_resampl.wav\n"
    "  convert     shift -f to 0 Hz and keep a band of -b Hz         NAME_if.wav\n"
    "  invert      spectral inversion                                NAME_inv.wav\n"
    "  am-classic  envelope of the whole band around -f, audio at -r NAME_amdem.wav\n"
    "  fm-classic  phase step of the whole band around -f, at -r     NAME_fmdem.wav\n"
    "resample, am-classic and fm-classic need -f, -r and -a; convert needs -f, -b\n"
    "and -a; iq and invert need nothing more. -q goes with each of them but invert.\n"
    "\n"
    "Rate change and channels (output aligned in time, length in x Fout/Fin):\n"
    "  rate        change the rate to -r, no shift; real stays real  NAME_rate.wav\n"
    "  channel     cut the channel of -b Hz at -f out of I/Q, at -r  NAME_ch.wav\n"
    "              (default: the lowest convenient rate that holds it)\n"
    "Receivers (I/Q in; one channel of audio at -r, default 48k, 16-bit unless -e):\n"
    "  am          AM, 10 kHz channel, automatic gain control        NAME_am.wav\n"
    "  fm          narrow-band FM, 12.5 kHz channel, 5 kHz deviation NAME_fm.wav\n"
    "  wfm         broadcast FM (mono), 200 kHz, de-emphasis 50 us   NAME_wfm.wav\n"
    "  usb, lsb    the side band 300-2700 Hz above or below -f       NAME_usb.wav\n"
    "  cw          500 Hz around -f, heard as a 700 Hz tone          NAME_cw.wav\n"
    "rate needs -r; channel -f and -b; the receivers -f (-b sets the channel width,\n"
    "of usb and lsb the audio band's). -a is an optional extra gain factor there.\n"
    "\n"
    "Options:\n"
    "  -m, --mode MODE       one of the modes above\n"
    "  -f, --frequency HZ    frequency moved to 0 Hz, from the recording's centre\n"
    "                        (negative below it); within +-rate/2 of it\n"
    "  -F, --absolute-frequency HZ\n"
    "                        the same as a radio frequency (-F 7.0655M); needs the\n"
    "                        recording's centre: from its auxi chunk, its name, or\n"
    "                        --centre\n"
    "  -r, --rate HZ         output sample rate (above 0; the original modes: at\n"
    "                        most 4096 times the input's rate)\n"
    "  -b, --band HZ         band width kept (above 0, at most the input's rate)\n"
    "  -a, --amplify X       gain factor; the original modes keep the file's scale\n"
    "                        (its integer range, or full scale 1 for float files)\n"
    "  -q, --quality Q       low, medium or high (default): the original modes'\n"
    "                        101, 301 or 1001 taps; rate and channel also take best:\n"
    "                        stop bands 80, 100, 120 or 140 dB down\n"
    "  -e, --encoding E      the output WAV's samples: u8, s16, s24, s32 or f32\n"
    "                        (default: the input's; s16 for the receivers)\n"
    "      --deemph US       fm, wfm: de-emphasis 0 (none), 50 or 75 microseconds\n"
    "      --agc on|off      am, usb, lsb, cw: automatic gain control (default on)\n"
    "  -o, --output PATH     the output file; an existing folder receives the output\n"
    "                        under its usual name. With several inputs PATH must be\n"
    "                        an existing folder.\n"
    "  -n, --no-clobber      never overwrite an existing output: that input fails\n"
    "                        (also when another run publishes it first)\n"
    "  -Q, --quiet           no progress and no summary lines\n"
    "  -i, --info            print each file's format and length, and its centre\n"
    "                        frequency and start time when it tells them\n"
    "  -t, --type TYPE       the inputs are raw samples of TYPE (no header): cu8,\n"
    "                        cs8, cs16 or cf32 (I/Q; c = complex), u8, s16, s24,\n"
    "                        s32 or f32 (real); files named .cu8, .cs8, .cs16 or\n"
    "                        .cf32 need no -t\n"
    "      --in-rate HZ      the sample rate of raw inputs (required for them)\n"
    "  -T, --out-type TYPE   write raw samples of TYPE instead of a WAV (with -o -)\n"
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
    "An input named - is standard input: a WAV stream, or raw samples with -t.\n"
    "-o - writes to standard output: a WAV stream whose header declares no length\n"
    "(readers take it to the end), or raw samples with -T. Input is processed as it\n"
    "arrives (never waiting for a block to fill) and output written as produced,\n"
    "so sigrun can sit in a live pipeline; nothing else goes to stdout then. A\n"
    "reader that goes away ends the run (exit 141) with one line on stderr.\n"
    "\n"
    "Inputs are WAV files of integer PCM (8, 16, 24 or 32 bits) or 32-bit float\n"
    "samples, one channel (a real signal) or two (I/Q). Outputs have the encoding\n"
    "of -e (rounded to the nearest step and limited to its range). Without -o the\n"
    "output goes beside its input: rec.wav gives rec_am.wav. The summary counts\n"
    "the output samples at full scale, which the conversion to integers clipped.\n"
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
    "  sigrun -m am-classic -f 10k -r 12k -a 20000 rec.wav\n"
    "  sigrun -m fm-classic -f 0 -r 48k -a 20000 -n -o audio/ *.wav\n"
    "  sigrun -m rate -r 44.1k -q best -e f32 song.wav\n"
    "  sigrun -m channel -f 300k -b 12.5k rec.wav\n"
    "  sigrun -m am -f 10k rec.wav\n"
    "  sigrun -m fm -f -12k -r 12k rec.wav\n"
    "  sigrun -m wfm -f 400k --deemph 75 -e f32 rec.wav\n"
    "  sigrun -m usb -f 14.2k -b 3k rec.wav\n"
    "  sigrun -m lsb -f -20k --agc off rec.wav\n"
    "  sigrun -m cw -f 10k rec.wav\n"
    "  parallel sigrun -m fm -f 0 -o audio/ ::: *.wav\n"
    "  sigrun -i *.wav\n"
    "  sigrun --in-rate 240k -m fm -f 0 -r 48k -o - rec.cu8 | aplay\n"
    "  rx | sigrun -t cu8 --in-rate 240k -m fm -f 0 -r 48k -o - - | aplay\n"
    "  sigrun --spectrum --span 0:100k rec.wav\n"
    "  sigrun --stations --json rec.wav\n"
    "  sigrun -m am -F 7.0655M --centre 7.1M rec.wav\n";

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
