/*
 * sigkit_api.h - the versioned C interface of libsigkit: processing objects over float streams
 * and whole-file WAV helpers; at the end, the calls on the WAV handles of sigkit.h.
 *
 * Conventions
 *   - Every function returns a status (enum sigkit_status: 0 success, negative failure) unless
 *     it is a plain query documented otherwise; sigkit_strerror() gives its text. Nothing is
 *     reported through errno, and the library keeps no global state: objects are independent
 *     of each other, and two threads may use two objects at once (one object: one thread at a
 *     time). The calls on the handles of sigkit.h (the last section) keep that header's
 *     conventions instead: 1 for success, 0 for a failure with errno set.
 *   - Records passed in start with their own size (set it to sizeof the record, or let the
 *     _init function do it). The library accepts every size from the first published one up; a
 *     record larger than the library knows is accepted only when the bytes it does not know are
 *     all zero.
 *   - Buffers belong to the caller. Counts are frames: a real frame is `channels` floats, a
 *     complex frame is one I/Q pair (two floats, I first).
 *   - Samples are 32-bit floats at full scale 1.0: the WAV helpers map each integer encoding's
 *     range onto -1.0 .. 1.0 and back. The six original processing kinds process the floats as
 *     given (their filters and gains are linear, so full scale in is full scale out; the
 *     original demodulators' outputs follow their formulas times the gain). The receivers give
 *     audio whose level does not depend on the input's: see enum sigkit_kind.
 *
 * Valid C (C11) and C++.
 */
#ifndef SIGKIT_API_H
#define SIGKIT_API_H

#include <stddef.h>
#include <stdint.h>

#include "sigkit.h"
#include "sigkit_version.h"

#ifdef __cplusplus
extern "C" {
#define SIGKIT_API_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#else
#define SIGKIT_API_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif

#if defined(SIGKIT_BUILDING_LIBRARY)
#define SIGKIT_PUBLIC __attribute__((visibility("default")))
#else
#define SIGKIT_PUBLIC
#endif

/* ---------------------------------------------------------------------------------------------
 * Version and errors
 * ------------------------------------------------------------------------------------------- */

/* The library's version as "MAJOR.MINOR.PATCH"; the numbers too where the pointers are not
 * null. Compare with SIGKIT_VERSION_MAJOR etc. of the header a program was built with. */
SIGKIT_PUBLIC const char* sigkit_version(int* major, int* minor, int* patch);

enum sigkit_status
{
    SIGKIT_OK = 0,
    SIGKIT_E_NULL = -1,             /* a required pointer is null */
    SIGKIT_E_INVALID = -2,          /* an argument or field is out of its range */
    SIGKIT_E_RECORD_SIZE = -3,      /* a record's size is not one this library takes */
    SIGKIT_E_UNKNOWN_KIND = -4,     /* no processing kind has this number */
    SIGKIT_E_BAD_RATE = -5,         /* a rate is not positive and finite, or the ratio not usable */
    SIGKIT_E_BUFFER_TOO_SMALL = -6, /* the output buffer cannot take the most a call can make */
    SIGKIT_E_NO_MEMORY = -7,
    SIGKIT_E_IO = -8,             /* reading or writing a file failed */
    SIGKIT_E_FORMAT = -9,         /* not a WAV file, or an encoding this library cannot use */
    SIGKIT_E_EXISTS = -10,        /* the output exists and replacing it was not allowed */
    SIGKIT_E_STATE = -11,         /* not allowed now (processing after flush without reset) */
    SIGKIT_E_OVERFLOW = -12,      /* a count or size beyond what can be represented */
    SIGKIT_E_NOT_AVAILABLE = -13, /* the kind or feature is not available in this version */
    SIGKIT_E_FREQUENCY = -14,     /* a frequency outside the band the input holds */
    SIGKIT_E_CHANNELS = -15,      /* a channel count the kind or encoding does not take */
    SIGKIT_E_NOT_FOUND = -16,     /* no such file or folder */
    SIGKIT_E_PERMISSION = -17,    /* the file system refused access */
    SIGKIT_E_NO_SPACE = -18,      /* the device or the file's size limit is full */
    SIGKIT_E_INTERNAL = -19,      /* an unexpected failure inside the library */
    SIGKIT_E_PIPE = -20,          /* the reader of an output stream went away (EPIPE) */
    SIGKIT_E_TRUNCATED = -21,     /* the input ended inside its header (an empty one included) */
    SIGKIT_E_HEADER_LIMIT = -22   /* a stream's samples did not begin within its first 1 MiB */
};

/* A short English text for a status; "unknown status" for numbers that are none. Never null. */
SIGKIT_PUBLIC const char* sigkit_strerror(int status);

/* ---------------------------------------------------------------------------------------------
 * Processing kinds and their configuration
 * ------------------------------------------------------------------------------------------- */

enum sigkit_kind
{
    /* The six original kinds: the same processing as the exports of sigkit.h. */
    SIGKIT_KIND_IQ2R = 1,       /* real -> I/Q at half the rate, or I/Q -> real at twice it */
    SIGKIT_KIND_RESAMPLE = 2,   /* shift `frequency` to 0 Hz, low-pass, change to `output_rate` */
    SIGKIT_KIND_CONVERT = 3,    /* shift `frequency` to 0 Hz, keep `band` Hz, same rate */
    SIGKIT_KIND_INVERT = 4,     /* spectral inversion */
    SIGKIT_KIND_AM_CLASSIC = 5, /* envelope over its running mean, less 1, at `output_rate` */
    SIGKIT_KIND_FM_CLASSIC = 6, /* minus the sine of the phase step, at `output_rate` */
    /* The chains. Their output is aligned: output frame k stands for input time
     * k / output_rate (every filter's delay compensated), and after the flush N input frames
     * have given round(N * output_rate / input_rate) output frames. Any split of the input into
     * calls gives the same bits. */
    SIGKIT_KIND_RATE = 7,    /* rate change to `output_rate` (0: input_rate), no shift: real
                                frames of any channel count stay real, I/Q stays I/Q */
    SIGKIT_KIND_CHANNEL = 8, /* the channel of `band` Hz (above 0) centred on `frequency` moved
                                to 0 Hz, kept by designed filters (flat to 0.01 dB, stop band
                                from a tenth of the band beyond its edge) and decimated to
                                `output_rate` (0: the lowest convenient rate that holds it);
                                I/Q out. Real input (one channel) needs the band clear of 0 Hz
                                and of input_rate/2 by 0.6 band, or SIGKIT_E_FREQUENCY */
    /* Receivers: I/Q in, mono audio at `output_rate` (0: 48000 Hz) out, the carrier at
     * `frequency`; the channel must lie within +-input_rate/2 (else SIGKIT_E_FREQUENCY). Their
     * filters stop 100 dB down whatever `quality` says. `gain` multiplies the audio after the
     * gain control. `band` 0 selects the kind's channel: */
    SIGKIT_KIND_AM = 9,   /* 10 kHz; 100 % modulation gives -1 dBFS (agc: the carrier level
                             divided out, 5 ms look-ahead attack, 20 dB/s decay, at most 60 dB;
                             off: scaled for a carrier at half full scale) */
    SIGKIT_KIND_FM = 10,  /* narrow-band FM: 12.5 kHz, audio to 3 kHz; `deviation` (0: 5 kHz)
                             gives -1 dBFS; a squelch mutes a channel without carrier */
    SIGKIT_KIND_WFM = 11, /* broadcast FM, mono: 200 kHz, audio to 15 kHz, deviation 75 kHz,
                             de-emphasis `deemphasis_us` (50 from sigkit_config_init; 0 none) */
    SIGKIT_KIND_USB = 12, /* the audio band audio_low .. audio_high (0: 300, 2700 Hz) above the
                             carrier; `band`, when not 0, sets its width from audio_low */
    SIGKIT_KIND_LSB = 13, /* the same below the carrier */
    SIGKIT_KIND_CW = 14,  /* `band` (0: 500 Hz) around the carrier, heard at `cw_pitch` Hz */
    /* A kind whose number and fields are fixed now; it answers SIGKIT_E_NOT_AVAILABLE until the
     * library version that brings it (sigkit_kind_available tells). */
    SIGKIT_KIND_SPECTRUM = 15 /* power spectra: frames of `fft_size` values in dB */
};
#define SIGKIT_KIND_FIRST SIGKIT_KIND_IQ2R
#define SIGKIT_KIND_LAST SIGKIT_KIND_SPECTRUM

/* The original kinds: filters of 101, 301, 1001 taps (BEST as HIGH). RATE and CHANNEL: stop
 * bands 80, 100, 120, 140 dB down. The receivers ignore it. */
enum sigkit_quality
{
    SIGKIT_QUALITY_LOW = 0,
    SIGKIT_QUALITY_MEDIUM = 1,
    SIGKIT_QUALITY_HIGH = 2,
    SIGKIT_QUALITY_BEST = 3
};

/* The kind's short name ("iq2r", "resample", "convert", "invert", "am-classic", "fm-classic",
 * "rate", "channel", "am", "fm", "wfm", "usb", "lsb", "cw", "spectrum"), or null for a number
 * that is no kind. */
SIGKIT_PUBLIC const char* sigkit_kind_name(int kind);
/* 1 when this library can create the kind, 0 otherwise. */
SIGKIT_PUBLIC int sigkit_kind_available(int kind);

/* What a processing object does. Rates and frequencies in Hz; frequencies are offsets from the
 * centre of the recording (negative below it). Fields that a kind does not use are ignored. A
 * value of 0 where a default is named selects that default. */
typedef struct sigkit_config
{
    uint32_t size;         /* sizeof(sigkit_config) as the caller knows it */
    int32_t kind;          /* enum sigkit_kind */
    double input_rate;     /* Hz, frames per second of the input; above 0 */
    int32_t complex_input; /* 1: frames are I/Q pairs; 0: real samples */
    int32_t channels;      /* real input: floats per frame (RATE: 1 .. 1024; others: 1);
                              complex: 1 */
    double frequency;      /* Hz, moved to 0 Hz; within +-input_rate/2 */
    double band;           /* Hz, width kept; CONVERT: 0 = the whole input band; receivers: see
                              enum sigkit_kind */
    double output_rate;    /* Hz; RESAMPLE, AM/FM_CLASSIC, RATE: 0 = input_rate; CHANNEL: 0 = the
                              lowest convenient rate; receivers: 0 = 48000 */
    double gain;           /* factor on the output (1 = unchanged); finite */
    int32_t quality;       /* enum sigkit_quality */
    int32_t agc;           /* AM, USB, LSB, CW: 1 automatic gain control (default), 0 off */
    double deemphasis_us;  /* FM, WFM: de-emphasis time constant in microseconds, 0 = off */
    double deviation;      /* FM, WFM: peak deviation in Hz giving -1 dBFS; 0 = the kind's */
    double cw_pitch;       /* CW: beat tone in Hz (0: 700), the pitch of a carrier at
                              `frequency` */
    double audio_low;      /* USB, LSB: audio band in Hz (0: 300 .. 2700) */
    double audio_high;
    int32_t fft_size; /* SPECTRUM: points per transform; 0 = the kind's default */
    int32_t average;  /* SPECTRUM: transforms averaged into one output frame; 0 = 1 */
} sigkit_config;

/* The first published size of sigkit_config: the smallest a caller may pass. */
#define SIGKIT_CONFIG_SIZE_V1 112u

SIGKIT_API_STATIC_ASSERT(sizeof(sigkit_config) == 112, "sigkit_config is 112 bytes");
SIGKIT_API_STATIC_ASSERT(offsetof(sigkit_config, input_rate) == 8, "sigkit_config.input_rate");
SIGKIT_API_STATIC_ASSERT(offsetof(sigkit_config, frequency) == 24, "sigkit_config.frequency");
SIGKIT_API_STATIC_ASSERT(offsetof(sigkit_config, quality) == 56, "sigkit_config.quality");
SIGKIT_API_STATIC_ASSERT(offsetof(sigkit_config, deemphasis_us) == 64,
                         "sigkit_config.deemphasis_us");
SIGKIT_API_STATIC_ASSERT(offsetof(sigkit_config, fft_size) == 104, "sigkit_config.fft_size");

/* Fills the record with the kind's defaults (size set, input_rate 48000, complex input, one
 * channel, gain 1, quality HIGH, agc on, de-emphasis 50 us for WFM (0 for the other kinds), CW
 * pitch 700 Hz, audio 300-2700 Hz, the rest 0). SIGKIT_E_UNKNOWN_KIND leaves the record
 * untouched. */
SIGKIT_PUBLIC int sigkit_config_init(sigkit_config* config, int kind);

/* ---------------------------------------------------------------------------------------------
 * Processing objects
 * ------------------------------------------------------------------------------------------- */

typedef struct sigkit_processor sigkit_processor; /* opaque */

/* Makes a processing object from the configuration (read only during the call). On failure
 * *processor is null. */
SIGKIT_PUBLIC int sigkit_create(const sigkit_config* config, sigkit_processor** processor);

/* The most frames one sigkit_process call with in_frames input frames can make; with 0, the
 * most sigkit_flush can make. */
SIGKIT_PUBLIC int sigkit_max_output(const sigkit_processor* processor, size_t in_frames,
                                    size_t* out_frames);

/* Takes all in_frames frames and writes what they complete to out (out_capacity frames of the
 * output layout). When out_capacity is below sigkit_max_output(in_frames) the call takes
 * nothing and answers SIGKIT_E_BUFFER_TOO_SMALL: output is never cut. *out_frames gets the
 * frames written (0 on failure). in may be null when in_frames is 0. */
SIGKIT_PUBLIC int sigkit_process(sigkit_processor* processor, const float* in, size_t in_frames,
                                 float* out, size_t out_capacity, size_t* out_frames);

/* Ends the stream: writes what the filters still hold, so that the output covers the input to
 * its last frame (the original kinds: the output the same filters give for zeros behind the
 * input). Afterwards only sigkit_reset or sigkit_destroy are accepted. */
SIGKIT_PUBLIC int sigkit_flush(sigkit_processor* processor, float* out, size_t out_capacity,
                               size_t* out_frames);

/* Back to the state sigkit_create left: the next frame processed starts a new stream. */
SIGKIT_PUBLIC int sigkit_reset(sigkit_processor* processor);

/* Where the output stands in time against the input, in output frames: an event at input time
 * t appears at output frame t * output_rate + latency. A constant of the object's
 * configuration, whatever has been processed:
 *   - the original kinds: their filters' delay less the start-up output they drop (fractional;
 *     negative when they drop more than they delay);
 *   - RATE, CHANNEL and the receivers: 0, their output being aligned. Their filters still
 *     wait for later input before they complete an output frame: during a stream, the frames
 *     due for the input so far that have not come yet are at most sigkit_max_output(p, 0), and
 *     sigkit_flush gives them. */
SIGKIT_PUBLIC int sigkit_latency(const sigkit_processor* processor, double* output_frames);

/* The output's layout: complex (1 I/Q pairs, 0 real), floats per real frame, rate in Hz. Any
 * pointer may be null. */
SIGKIT_PUBLIC int sigkit_output_layout(const sigkit_processor* processor, int* complex_output,
                                       int* channels, double* rate);

/* Destroys the object; null is accepted and ignored. */
SIGKIT_PUBLIC void sigkit_destroy(sigkit_processor* processor);

/* ---------------------------------------------------------------------------------------------
 * WAV files
 * ------------------------------------------------------------------------------------------- */

enum sigkit_encoding
{
    SIGKIT_ENCODING_U8 = 1,  /* unsigned 8-bit integer PCM, 128 = 0.0 */
    SIGKIT_ENCODING_S16 = 2, /* signed integer PCM */
    SIGKIT_ENCODING_S24 = 3,
    SIGKIT_ENCODING_S32 = 4,
    SIGKIT_ENCODING_F32 = 5, /* IEEE float */
    SIGKIT_ENCODING_F64 = 6
};

/* Bits of sigkit_wav_info.metadata: which metadata fields hold a value. */
#define SIGKIT_META_CENTRE_FREQUENCY 1u
#define SIGKIT_META_START_TIME 2u

/* What sigkit_wav_open found. */
typedef struct sigkit_wav_info
{
    uint32_t size;           /* set by the caller: sizeof(sigkit_wav_info) */
    int32_t encoding;        /* enum sigkit_encoding, by the container's width */
    double rate;             /* Hz, frames per second */
    int32_t channels;        /* samples per frame */
    int32_t complex_samples; /* 1 for two channels: I and Q (this library's convention) */
    uint64_t frames;         /* frames in the data; SIGKIT_FRAMES_UNKNOWN when not known */
    int32_t valid_bits;      /* significant bits per sample (as declared, else the container's) */
    uint32_t metadata;       /* SIGKIT_META_ bits: which fields below hold a value */
    double centre_frequency; /* Hz, the recording's centre */
    double start_time;       /* seconds since 1970-01-01 00:00 UTC of the first frame */
} sigkit_wav_info;

#define SIGKIT_WAV_INFO_SIZE_V1 56u
SIGKIT_API_STATIC_ASSERT(sizeof(sigkit_wav_info) == 56, "sigkit_wav_info is 56 bytes");
SIGKIT_API_STATIC_ASSERT(offsetof(sigkit_wav_info, frames) == 24, "sigkit_wav_info.frames");
SIGKIT_API_STATIC_ASSERT(offsetof(sigkit_wav_info, centre_frequency) == 40,
                         "sigkit_wav_info.centre_frequency");

/* sigkit_wav_info.frames of a stream whose header declares no length, or of raw samples arriving
 * on a stream: read to the end. */
#define SIGKIT_FRAMES_UNKNOWN UINT64_MAX

typedef struct sigkit_wav_reader sigkit_wav_reader; /* opaque */

/* Opens a WAV file (RIFF or RF64, PCM or float, plain or extensible) for reading and describes
 * it in *info (whose size field the caller sets; a larger record gets its unknown bytes
 * zeroed). On failure *reader is null. A file that ends inside its header (no data chunk)
 * answers SIGKIT_E_TRUNCATED. */
SIGKIT_PUBLIC int sigkit_wav_open(const char* path, sigkit_wav_info* info,
                                  sigkit_wav_reader** reader);
/* Reads up to `frames` frames as floats at full scale 1.0 (channels floats per frame) into out.
 * From a file, `frames` frames unless the data ends first. From a stream (sigkit_wav_open_fd,
 * sigkit_raw_open_fd), the frames that have arrived: the call waits only while none has, so a
 * caller processes a live stream as it comes. *got is 0 at the end of the data, and only there;
 * bytes after the last whole frame are not a frame. */
SIGKIT_PUBLIC int sigkit_wav_read(sigkit_wav_reader* reader, float* out, size_t frames,
                                  size_t* got);
/* Closes the file and destroys the reader; null is accepted. */
SIGKIT_PUBLIC void sigkit_wav_close_reader(sigkit_wav_reader* reader);
/* Reads up to `frames` frames as they are stored, unconverted: the file's or stream's own
 * sample bytes (sigkit_wav_info.encoding), or a raw reader's bytes of its sample type; out holds
 * frames * (bytes of a frame). Frames arrive as sigkit_wav_read hands them out. */
SIGKIT_PUBLIC int sigkit_wav_read_stored(sigkit_wav_reader* reader, void* out, size_t frames,
                                         size_t* got);

/* Bits of sigkit_wav_format.flags. */
#define SIGKIT_WAV_NO_REPLACE 1u /* fail with SIGKIT_E_EXISTS where the path exists */

/* What sigkit_wav_create writes. */
typedef struct sigkit_wav_format
{
    uint32_t size;           /* sizeof(sigkit_wav_format) */
    int32_t encoding;        /* enum sigkit_encoding */
    double rate;             /* Hz, above 0 and below 2^32 */
    int32_t channels;        /* 1 .. 1024 (2 for an I/Q recording) */
    uint32_t flags;          /* SIGKIT_WAV_ bits */
    uint32_t metadata;       /* SIGKIT_META_ bits of the fields below to write: sigkit_wav_create
                                writes them in an auxi chunk before the data (centre: whole Hz
                                from 0 to 2^32 - 1; start within 9e9 s of 1970); the stream and
                                raw writers write none (SIGKIT_E_NOT_AVAILABLE unless 0) */
    int32_t reserved;        /* 0 */
    double centre_frequency; /* Hz */
    double start_time;       /* seconds since 1970-01-01 00:00 UTC */
} sigkit_wav_format;

#define SIGKIT_WAV_FORMAT_SIZE_V1 48u
SIGKIT_API_STATIC_ASSERT(sizeof(sigkit_wav_format) == 48, "sigkit_wav_format is 48 bytes");
SIGKIT_API_STATIC_ASSERT(offsetof(sigkit_wav_format, centre_frequency) == 32,
                         "sigkit_wav_format.centre_frequency");

/* Fills the record: size set, 48000 Hz, the channels and encoding given, no flags. */
SIGKIT_PUBLIC int sigkit_wav_format_init(sigkit_wav_format* shape, int encoding, double rate,
                                         int channels);

typedef struct sigkit_wav_writer sigkit_wav_writer; /* opaque */

/* Starts a WAV file for `path`, written as the output files of this library are (see "Output
 * files" below): under a hidden temporary name beside the path until sigkit_wav_close publishes
 * it, so the path only ever holds a complete file. SIGKIT_WAV_NO_REPLACE: SIGKIT_E_EXISTS here
 * when the path exists already, and the publication is exclusive. Files past 4 GiB become RF64. */
SIGKIT_PUBLIC int sigkit_wav_create(const char* path, const sigkit_wav_format* shape,
                                    sigkit_wav_writer** writer);
/* Appends frames (channels floats each, full scale 1.0). Integer encodings round to the
 * nearest step (halves to even) and limit to the range, NaN as 0; floats are stored as they
 * are. After a failure every later write fails the same way. */
SIGKIT_PUBLIC int sigkit_wav_write(sigkit_wav_writer* writer, const float* in, size_t frames);
/* Appends frames already stored in the writer's encoding (a raw writer's: its sample type's
 * bytes), unconverted; the clip count is not changed. Otherwise as sigkit_wav_write. */
SIGKIT_PUBLIC int sigkit_wav_write_stored(sigkit_wav_writer* writer, const void* in, size_t frames);
/* Samples written so far that sit at either end of the integer range (where every value
 * beyond it is put); float encodings count none. */
SIGKIT_PUBLIC int sigkit_wav_clipped(const sigkit_wav_writer* writer, uint64_t* samples);
/* Completes the header, closes and publishes the file under its path, and destroys the writer
 * (also on failure). When anything failed, the path is left as it was and the samples that
 * reached the disk stay in NAME.partial.wav, with a header declaring just those. With
 * SIGKIT_WAV_NO_REPLACE, a path taken meanwhile (another writer published first) answers
 * SIGKIT_E_EXISTS and leaves nothing of this writer behind. */
SIGKIT_PUBLIC int sigkit_wav_close(sigkit_wav_writer* writer);
/* Gives up the file: what was written stays in NAME.partial.wav with a true header, the path
 * is left as it was, and the writer is destroyed. Null is accepted. */
SIGKIT_PUBLIC int sigkit_wav_abandon(sigkit_wav_writer* writer);

/* ---------------------------------------------------------------------------------------------
 * Streams and raw samples
 *
 * A stream is a descriptor read or written in order and never sought: standard input or output,
 * a pipe, a socket, a terminal (a regular file's descriptor is taken the same way, from where it
 * stands). The library never closes the caller's descriptor. A descriptor in non-blocking mode is
 * waited on as a blocking one: a stalled stream blocks the call in the system (no busy loop).
 *
 * Reading a WAV stream: the header is read once, in order, up to the data chunk, which must
 * begin within the first 1 MiB (1048576 bytes) of the stream (SIGKIT_E_HEADER_LIMIT otherwise;
 * the library reads at most about a kilobyte more before it gives up). Bytes that do not begin
 * "RIFF"/"RF64", 4 bytes, "WAVE" are refused after those 12 bytes (SIGKIT_E_FORMAT); a stream that
 * ends inside its header answers SIGKIT_E_TRUNCATED. A data size that declares no length (0 with
 * a RIFF size that was never filled in, 0xFFFFFFFF, or an RF64 ds64 size of all ones or all
 * zeros) is read to the end of the stream; a declared size is read that far and no further.
 *
 * Writing a WAV stream: the header goes out once, right before the first samples (or at the close
 * when there are none), and declares "length not known" (0xFFFFFFFF as the RIFF and the data
 * sizes), which readers take as "to the end"; it is never RF64. Each sigkit_wav_write is handed
 * on before the call returns. A reader that went away answers SIGKIT_E_PIPE: the process must
 * ignore (or catch) SIGPIPE to get it instead of being ended by the signal, since pipes cannot
 * be written without raising it.
 *
 * Raw samples have no header: the caller names the sample type and the rate. Samples are
 * little-endian, frames follow each other with no gaps; a complex type's frame is an I/Q pair
 * (I first). A raw reader or writer is a sigkit_wav_reader or sigkit_wav_writer: read, write,
 * count clips, close and abandon it with the sigkit_wav_ calls above.
 * ------------------------------------------------------------------------------------------- */

/* Raw sample types. The real ones carry the numbers of the WAV encodings of the same name (a
 * name read by sigkit_sample_type_from_name serves as an encoding too); the complex ones (names
 * beginning "c") hold I/Q pairs. Values map onto floats at full scale 1.0 as the WAV encodings
 * do, and back with the WAV writer's rounding (to the nearest step, halves to even), limits
 * (NaN as 0.0) and clip count. */
enum sigkit_sample_type
{
    SIGKIT_SAMPLE_U8 = 1,    /* "u8": unsigned 8-bit, 128 = 0.0, (x - 128) / 128 */
    SIGKIT_SAMPLE_S16 = 2,   /* "s16": x / 32768 */
    SIGKIT_SAMPLE_S24 = 3,   /* "s24": 3 bytes, x / 8388608 */
    SIGKIT_SAMPLE_S32 = 4,   /* "s32": x / 2147483648 */
    SIGKIT_SAMPLE_F32 = 5,   /* "f32": IEEE float, as it is */
    SIGKIT_SAMPLE_F64 = 6,   /* "f64": IEEE double, rounded to float */
    SIGKIT_SAMPLE_CU8 = 17,  /* "cu8": I/Q unsigned 8-bit centred on 127.5, as the 8-bit cheap
                                receivers deliver it: (x - 127.5) / 127.5, so 0 and 255 are -1.0
                                and +1.0; 0.0 is written as 128 (127.5 rounded half to even) */
    SIGKIT_SAMPLE_CS8 = 18,  /* "cs8": I/Q signed 8-bit, x / 128 */
    SIGKIT_SAMPLE_CS16 = 19, /* "cs16": I/Q signed 16-bit, x / 32768 */
    SIGKIT_SAMPLE_CF32 = 20  /* "cf32": I/Q IEEE float */
};

/* The type of a name ("cu8", "s16", ...; letters in either case), or SIGKIT_E_INVALID (negative)
 * for a name that is none, SIGKIT_E_NULL for null. */
SIGKIT_PUBLIC int sigkit_sample_type_from_name(const char* name);
/* The type that a file name's extension stands for: ".cu8", ".cs8", ".cs16" and ".cf32" (either
 * case) give their types; any other name 0 (it needs the type named), null SIGKIT_E_NULL. */
SIGKIT_PUBLIC int sigkit_sample_type_from_path(const char* path);
/* The type's name, or null for a number that is no type. */
SIGKIT_PUBLIC const char* sigkit_sample_type_name(int type);
/* Bytes of one sample (a complex type's I or Q alone) and whether the type is complex (1) or
 * real (0); either pointer may be null. SIGKIT_E_INVALID for a number that is no type. */
SIGKIT_PUBLIC int sigkit_sample_type_layout(int type, int* sample_bytes, int* complex_type);

/* Opens a WAV stream arriving on fd (see above) and describes it in *info as sigkit_wav_open
 * does; frames is SIGKIT_FRAMES_UNKNOWN unless the header declares a length. The call returns once
 * the header is in, before any sample has arrived. */
SIGKIT_PUBLIC int sigkit_wav_open_fd(int fd, sigkit_wav_info* info, sigkit_wav_reader** reader);

/* Starts a WAV stream on fd (see above) with the shape given (flags must be 0). Close it with
 * sigkit_wav_close, which publishes nothing and leaves fd open; sigkit_wav_abandon likewise (what
 * was written is with the reader). */
SIGKIT_PUBLIC int sigkit_wav_create_fd(int fd, const sigkit_wav_format* shape,
                                       sigkit_wav_writer** writer);

/* What raw samples hold. */
typedef struct sigkit_raw_format
{
    uint32_t size;    /* sizeof(sigkit_raw_format) */
    int32_t type;     /* enum sigkit_sample_type */
    double rate;      /* Hz: readers report it (above 0 and finite); writers keep no rate */
    int32_t channels; /* samples per frame; 0: the type's own (complex 2, I and Q; real 1); a
                         complex type takes only 2, a real one 1 .. 1024 */
    uint32_t flags;   /* SIGKIT_WAV_NO_REPLACE for sigkit_raw_create; 0 otherwise */
} sigkit_raw_format;

#define SIGKIT_RAW_FORMAT_SIZE_V1 24u
SIGKIT_API_STATIC_ASSERT(sizeof(sigkit_raw_format) == 24, "sigkit_raw_format is 24 bytes");
SIGKIT_API_STATIC_ASSERT(offsetof(sigkit_raw_format, rate) == 8, "sigkit_raw_format.rate");
SIGKIT_API_STATIC_ASSERT(offsetof(sigkit_raw_format, flags) == 20, "sigkit_raw_format.flags");

/* Fills the record: size set, the type, rate and channels given, no flags. */
SIGKIT_PUBLIC int sigkit_raw_format_init(sigkit_raw_format* format, int type, double rate,
                                         int channels);

/* Opens raw samples in a file (a regular file) or on a stream, for sigkit_wav_read. *info (size
 * set by the caller) receives the shape: encoding holds the sample type, channels the samples
 * per frame (2 for a complex type, with complex_samples 1), rate the rate given, frames the whole
 * frames of a file (bytes behind the last are not read) or SIGKIT_FRAMES_UNKNOWN for a stream,
 * valid_bits the type's. */
SIGKIT_PUBLIC int sigkit_raw_open(const char* path, const sigkit_raw_format* format,
                                  sigkit_wav_info* info, sigkit_wav_reader** reader);
SIGKIT_PUBLIC int sigkit_raw_open_fd(int fd, const sigkit_raw_format* format, sigkit_wav_info* info,
                                     sigkit_wav_reader** reader);

/* Starts raw samples for a path, published by sigkit_wav_close as WAV outputs are (see "Output
 * files"; a file not completed is kept as NAME.partial.EXT, EXT being the path's own extension);
 * or on a stream, each write handed on before the call returns, EPIPE as SIGKIT_E_PIPE. */
SIGKIT_PUBLIC int sigkit_raw_create(const char* path, const sigkit_raw_format* format,
                                    sigkit_wav_writer** writer);
SIGKIT_PUBLIC int sigkit_raw_create_fd(int fd, const sigkit_raw_format* format,
                                       sigkit_wav_writer** writer);

/* ---------------------------------------------------------------------------------------------
 * Output files
 *
 * wav_write_init (and sigkit_wav_create) write under a temporary name beside the output (a dot,
 * the output's file name, a number, ".tmp"); its header says "length unknown" until the end, so
 * that a process killed while writing leaves a file every reader reads. wav_write_free completes
 * the header and renames the file onto the output name, replacing what held it (a link is
 * replaced, never followed): the output name only ever holds a complete file. When anything
 * failed (a write, the disk full, the completion, the publication), wav_write_free returns 0 with
 * errno set, the output name keeps what it held, and what was written is kept, with a true
 * header, as NAME.partial.wav beside it (NAME: the output name without ".wav").
 *
 * The calls below work on the handles of sigkit.h and keep its conventions: 1 for success, 0 for
 * a failure with errno set.
 * ------------------------------------------------------------------------------------------- */

/* From now on the handle publishes only when nothing holds the output name: of two writers of
 * one name in this mode, one publishes and the other's wav_write_free fails with EEXIST and
 * removes what it wrote (this mode writes the output or nothing). */
SIGKIT_PUBLIC int32_t sigkit_wav_write_no_replace(WavWriteHandle* handle);

/* wav_write_free that also tells what became of the bytes: frames receives the sample frames
 * published, or, when the output could not be published, those kept in the partial file whose
 * path partialPath (capacity bytes) receives ("" when nothing was kept, as after losing the name
 * in the no-replace mode, or when the path does not fit). Either may be null. 1 published; 0 with
 * errno telling why not. The handle is freed in every case. */
SIGKIT_PUBLIC int32_t sigkit_wav_write_finish(WavWriteHandle* handle, char* partialPath,
                                              size_t capacity, uint64_t* frames);

/* Gives up the output: what was written is completed with a true header and kept as
 * NAME.partial.wav; the output name keeps what it held. The handle is freed in every case. After
 * wav_write_data failed, this in place of wav_write_free tells where the bytes are and how many
 * frames they hold.
 * partialPath (capacity bytes) receives the partial file's path, frames the sample frames it
 * holds; either may be null. 0 when the partial file could not be made (partialPath then names
 * where the bytes are, "" when nowhere) or its path does not fit (ERANGE). */
SIGKIT_PUBLIC int32_t sigkit_wav_write_abandon(WavWriteHandle* handle, char* partialPath,
                                               size_t capacity, uint64_t* frames);

/* The data bytes the input's header declares and the bytes wav_read_data has handed out so far,
 * so that a caller can tell, once the data is exhausted, an input that ended before its header's
 * length (a recording cut off, a file truncated while it was read). A header that declares no
 * length counts as declaring the bytes present when the file was opened. Either pointer may be
 * null. 0 (errno set) when no file was opened. */
SIGKIT_PUBLIC int32_t sigkit_wav_read_length(const WavReadHandle* handle, uint64_t* declaredBytes,
                                             uint64_t* deliveredBytes);

/* Function types for callers that bind the library at run time. */
typedef int32_t (*SigkitWavWriteNoReplaceFn)(WavWriteHandle* handle);
typedef int32_t (*SigkitWavWriteFinishFn)(WavWriteHandle* handle, char* partialPath,
                                          size_t capacity, uint64_t* frames);
typedef int32_t (*SigkitWavWriteAbandonFn)(WavWriteHandle* handle, char* partialPath,
                                           size_t capacity, uint64_t* frames);
typedef int32_t (*SigkitWavReadLengthFn)(const WavReadHandle* handle, uint64_t* declaredBytes,
                                         uint64_t* deliveredBytes);

/* ---------------------------------------------------------------------------------------------
 * Recording metadata on the handles of sigkit.h
 *
 * A recording's centre frequency (the radio frequency at its 0 Hz) and start time come from its
 * auxi chunk, else from the recorder's file name (NAME_20240101_120000Z_7100kHz_IQ.wav). Outputs
 * carry them on in an auxi chunk placed after this library's own chunks and before the data,
 * moved as the processing moves the band and the time. These calls keep the conventions of
 * sigkit.h: 1 for success, 0 for a failure with errno set.
 * ------------------------------------------------------------------------------------------- */

/* What the opened input says of itself: *metadata receives SIGKIT_META_ bits telling which of
 * centre_frequency (Hz) and start_time (seconds since 1970-01-01 00:00 UTC) hold a value. Any
 * pointer but the handle may be null. 0 (errno set) when no file was opened. */
SIGKIT_PUBLIC int32_t sigkit_wav_read_metadata(const WavReadHandle* handle, uint32_t* metadata,
                                               double* centre_frequency, double* start_time);

/* How one processing run moves the band and the time of its input into its output. */
typedef struct sigkit_output_metadata
{
    uint32_t size;           /* sizeof(sigkit_output_metadata) */
    uint32_t metadata;       /* SIGKIT_META_ bits of the fields below given by the caller; they
                                count where the input says nothing of them */
    double centre_frequency; /* Hz */
    double start_time;       /* seconds since 1970-01-01 00:00 UTC */
    double shift;            /* Hz: the input's offset that lies at 0 Hz in the output */
    double input_rate;       /* Hz */
    double output_rate;      /* Hz; 0: input_rate */
    int32_t complex_output;  /* 1: the output holds I/Q pairs */
    int32_t reserved;        /* 0 */
    double band;             /* Hz of the input's band kept; 0: all that the output holds */
    double dropped_frames;   /* input frames before the output's first one (negative: the
                                output starts before the input, as a filter delay puts it) */
} sigkit_output_metadata;

#define SIGKIT_OUTPUT_METADATA_SIZE_V1 72u
SIGKIT_API_STATIC_ASSERT(sizeof(sigkit_output_metadata) == 72,
                         "sigkit_output_metadata is 72 bytes");
SIGKIT_API_STATIC_ASSERT(offsetof(sigkit_output_metadata, complex_output) == 48,
                         "sigkit_output_metadata.complex_output");

/* wav_write_init whose output carries the input's metadata (input: a reading handle, or null
 * for none) with the given fields where the input has none, moved as `change` says. The output
 * gets an auxi chunk only when there is a centre frequency or a start time to carry: otherwise
 * its bytes are those of wav_write_init. change may be null (nothing given, nothing moved). */
SIGKIT_PUBLIC int32_t sigkit_wav_write_init_metadata(WavDescription description,
                                                     const WavReadHandle* input,
                                                     const sigkit_output_metadata* change,
                                                     WavWriteHandle** handle);

typedef int32_t (*SigkitWavReadMetadataFn)(const WavReadHandle* handle, uint32_t* metadata,
                                           double* centre_frequency, double* start_time);
typedef int32_t (*SigkitWavWriteInitMetadataFn)(WavDescription description,
                                                const WavReadHandle* input,
                                                const sigkit_output_metadata* change,
                                                WavWriteHandle** handle);

/* ---------------------------------------------------------------------------------------------
 * Spectra and stations
 *
 * A recording's spectra in one pass over its file (of any length, in the same memory): a
 * waterfall (rows in time, columns across the band), the averaged spectrum per FFT bin, a
 * picture of both with labelled axes, and the list of the stations found above the noise floor.
 * Frequencies are offsets from the recording's 0 Hz (its centre for I/Q); levels are dBFS.
 * ------------------------------------------------------------------------------------------- */

typedef struct sigkit_spectrum_request
{
    uint32_t size;           /* sizeof(sigkit_spectrum_request) */
    int32_t width;           /* picture pixels, 480 .. 16384; 0: 1200 */
    int32_t height;          /* 320 .. 16384; 0: 800 */
    int32_t fft_size;        /* a power of two 32 .. 2^20; 0: chosen from the band and width */
    double start_seconds;    /* the part analysed: its start */
    double length_seconds;   /* its length; 0: to the end */
    double span_centre;      /* Hz, the band shown: its centre as an offset */
    double span_width;       /* Hz; 0: the whole band */
    uint32_t metadata;       /* SIGKIT_META_ bits of the fields below given by the caller; they
                                count where the file says nothing of them */
    int32_t max_stations;    /* 0: 20 */
    double centre_frequency; /* Hz */
    double start_time;       /* seconds since 1970-01-01 00:00 UTC */
} sigkit_spectrum_request;

#define SIGKIT_SPECTRUM_REQUEST_SIZE_V1 72u
SIGKIT_API_STATIC_ASSERT(sizeof(sigkit_spectrum_request) == 72,
                         "sigkit_spectrum_request is 72 bytes");
SIGKIT_API_STATIC_ASSERT(offsetof(sigkit_spectrum_request, metadata) == 48,
                         "sigkit_spectrum_request.metadata");

typedef struct sigkit_spectrum_info
{
    uint32_t size;           /* set by the caller */
    int32_t complex_samples; /* 1: I/Q (offsets either side of 0 Hz); 0: real (0 .. rate/2) */
    double rate;             /* Hz */
    double low_frequency;    /* Hz, the band of the waterfall's columns */
    double high_frequency;
    double bin_width;        /* Hz of one FFT bin */
    int32_t rows;            /* waterfall rows, the first first in time */
    int32_t columns;         /* waterfall columns, low_frequency first */
    int32_t bins;            /* bins of the averaged spectrum */
    uint32_t metadata;       /* SIGKIT_META_ bits of the two fields below */
    double centre_frequency; /* Hz */
    double start_time;       /* seconds since 1970-01-01 00:00 UTC of the recording's start */
    double offset_seconds;   /* the part analysed: its start in the recording */
    double duration_seconds; /* and its length */
} sigkit_spectrum_info;

#define SIGKIT_SPECTRUM_INFO_SIZE_V1 88u
SIGKIT_API_STATIC_ASSERT(sizeof(sigkit_spectrum_info) == 88, "sigkit_spectrum_info is 88 bytes");

typedef struct sigkit_spectrum sigkit_spectrum; /* opaque */

/* Fills the record with the defaults (size set, the rest 0). */
SIGKIT_PUBLIC int sigkit_spectrum_request_init(sigkit_spectrum_request* request);
/* Analyses a WAV file (one channel: real samples; two: I/Q). SIGKIT_E_INVALID for a size, time
 * or span the recording cannot give; SIGKIT_E_FORMAT for no usable WAV; on failure *spectrum is
 * null. */
SIGKIT_PUBLIC int sigkit_spectrum_open(const char* path, const sigkit_spectrum_request* request,
                                       sigkit_spectrum** spectrum);
SIGKIT_PUBLIC int sigkit_spectrum_get_info(const sigkit_spectrum* spectrum,
                                           sigkit_spectrum_info* info);
/* The waterfall, rows x columns dBFS values (row after row); capacity in floats. */
SIGKIT_PUBLIC int sigkit_spectrum_waterfall(const sigkit_spectrum* spectrum, float* levels,
                                            size_t capacity);
/* The averaged spectrum: per bin its frequency (Hz offset) and mean level (dBFS); either
 * pointer may be null; capacity in values. */
SIGKIT_PUBLIC int sigkit_spectrum_average(const sigkit_spectrum* spectrum, double* frequencies,
                                          float* levels, size_t capacity);
/* The picture: 8-bit RGB, rows top first, width x height x 3 bytes. db_low and db_high set the
 * colour range (NaN: automatic from the noise floor and the peak). rgb null: the size only. */
SIGKIT_PUBLIC int sigkit_spectrum_picture(const sigkit_spectrum* spectrum, double db_low,
                                          double db_high, uint8_t* rgb, size_t capacity,
                                          int32_t* width, int32_t* height);
/* The stations as text (one line each, a heading first) or, with json 1, as a JSON document;
 * NUL-terminated. *length receives the characters without the NUL; text null: the length only.
 * SIGKIT_E_BUFFER_TOO_SMALL when capacity cannot take the text and its NUL. */
SIGKIT_PUBLIC int sigkit_spectrum_stations(const sigkit_spectrum* spectrum, int32_t json,
                                           char* text, size_t capacity, size_t* length);
/* Destroys the object; null is accepted. */
SIGKIT_PUBLIC void sigkit_spectrum_destroy(sigkit_spectrum* spectrum);

typedef int (*SigkitSpectrumOpenFn)(const char* path, const sigkit_spectrum_request* request,
                                    sigkit_spectrum** spectrum);
typedef int (*SigkitSpectrumGetInfoFn)(const sigkit_spectrum* spectrum, sigkit_spectrum_info* info);
typedef int (*SigkitSpectrumPictureFn)(const sigkit_spectrum* spectrum, double db_low,
                                       double db_high, uint8_t* rgb, size_t capacity,
                                       int32_t* width, int32_t* height);
typedef int (*SigkitSpectrumStationsFn)(const sigkit_spectrum* spectrum, int32_t json, char* text,
                                        size_t capacity, size_t* length);
typedef void (*SigkitSpectrumDestroyFn)(sigkit_spectrum* spectrum);
typedef const char* (*SigkitStrerrorFn)(int status);

#ifdef __cplusplus
}
#endif

#endif /* SIGKIT_API_H */
