/*
 * sigkit.h - the public C interface of libsigkit.
 *
 * Everything that crosses between a caller and the library is declared here: the records passed
 * by value or by pointer, the opaque handles and the 24 exported functions (eight families of
 * _init, _data and _free). Records are plain fixed layouts, little-endian, without gaps; their
 * sizes and field offsets are checked at compile time below.
 *
 * Ownership: a handle is made by its family's _init and destroyed only by that family's _free.
 * A block handed out by a _data function belongs to the handle and stays valid until the next
 * call on that handle. Blocks given to the library are only read during the call.
 *
 * Valid C (C11) and C++.
 */
#ifndef SIGKIT_H
#define SIGKIT_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#define SIGKIT_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#else
#define SIGKIT_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif

#if defined(SIGKIT_BUILDING_LIBRARY)
#define SIGKIT_API __attribute__((visibility("default")))
#else
#define SIGKIT_API
#endif

/* ---------------------------------------------------------------------------------------------
 * Records
 * ------------------------------------------------------------------------------------------- */

/* Length of every text field of the records, terminator included. */
#define SIGKIT_TEXT_SIZE 1024

/* Describes one WAV file: filled by wav_read_init, read by wav_write_init. */
typedef struct WavDescription
{
    char name[SIGKIT_TEXT_SIZE]; /* file name, NUL-terminated */
    uint16_t formatTag;          /* 1 = integer PCM */
    uint16_t channels;           /* 1 = real signal, 2 = complex I/Q */
    uint32_t sampleRate;         /* samples per second per channel */
    uint32_t byteRate;           /* bytes per second */
    uint16_t blockAlign;         /* bytes per frame, all channels */
    uint16_t bitsPerSample;      /* 8, 16, 24 or 32 */
    uint32_t valid;              /* 1 when the format could be read */
} WavDescription;

/* Settings of the am_demod, fm_demod, lpflt and resampl families. */
typedef struct BlockParams
{
    char inputMode[SIGKIT_TEXT_SIZE];    /* "Real" or "Complex" */
    char sampleFormat[SIGKIT_TEXT_SIZE]; /* one of the seven format words, "16 bits (signed)" ... */
    int32_t sampleRate;                  /* input rate, Hz */
    int32_t frequency;                   /* frequency moved to 0 Hz, Hz */
    int32_t outRateOrBand;          /* output rate (resampl, demod) or band width (lpflt), Hz */
    float amplify;                  /* gain */
    char quality[SIGKIT_TEXT_SIZE]; /* "Low", "Medium" or "High" */
} BlockParams;

/* Settings of the iq2real family. */
typedef struct IqParams
{
    char inputMode[SIGKIT_TEXT_SIZE]; /* "Real->Complex" or "Complex->Real" */
    char sampleFormat[SIGKIT_TEXT_SIZE];
    char quality[SIGKIT_TEXT_SIZE];
} IqParams;

/* Settings of the invert family. */
typedef struct InvertParams
{
    char inputMode[SIGKIT_TEXT_SIZE]; /* "Real" or "Complex" */
    char sampleFormat[SIGKIT_TEXT_SIZE];
} InvertParams;

SIGKIT_STATIC_ASSERT(sizeof(WavDescription) == 1044, "WavDescription is 1044 bytes");
SIGKIT_STATIC_ASSERT(offsetof(WavDescription, name) == 0, "WavDescription.name");
SIGKIT_STATIC_ASSERT(offsetof(WavDescription, formatTag) == 1024, "WavDescription.formatTag");
SIGKIT_STATIC_ASSERT(offsetof(WavDescription, channels) == 1026, "WavDescription.channels");
SIGKIT_STATIC_ASSERT(offsetof(WavDescription, sampleRate) == 1028, "WavDescription.sampleRate");
SIGKIT_STATIC_ASSERT(offsetof(WavDescription, byteRate) == 1032, "WavDescription.byteRate");
SIGKIT_STATIC_ASSERT(offsetof(WavDescription, blockAlign) == 1036, "WavDescription.blockAlign");
SIGKIT_STATIC_ASSERT(offsetof(WavDescription, bitsPerSample) == 1038,
                     "WavDescription.bitsPerSample");
SIGKIT_STATIC_ASSERT(offsetof(WavDescription, valid) == 1040, "WavDescription.valid");

SIGKIT_STATIC_ASSERT(sizeof(BlockParams) == 3088, "BlockParams is 3088 bytes");
SIGKIT_STATIC_ASSERT(offsetof(BlockParams, inputMode) == 0, "BlockParams.inputMode");
SIGKIT_STATIC_ASSERT(offsetof(BlockParams, sampleFormat) == 1024, "BlockParams.sampleFormat");
SIGKIT_STATIC_ASSERT(offsetof(BlockParams, sampleRate) == 2048, "BlockParams.sampleRate");
SIGKIT_STATIC_ASSERT(offsetof(BlockParams, frequency) == 2052, "BlockParams.frequency");
SIGKIT_STATIC_ASSERT(offsetof(BlockParams, outRateOrBand) == 2056, "BlockParams.outRateOrBand");
SIGKIT_STATIC_ASSERT(offsetof(BlockParams, amplify) == 2060, "BlockParams.amplify");
SIGKIT_STATIC_ASSERT(offsetof(BlockParams, quality) == 2064, "BlockParams.quality");
SIGKIT_STATIC_ASSERT(sizeof(float) == 4, "amplify is a 32-bit IEEE float");

SIGKIT_STATIC_ASSERT(sizeof(IqParams) == 3072, "IqParams is 3072 bytes");
SIGKIT_STATIC_ASSERT(offsetof(IqParams, inputMode) == 0, "IqParams.inputMode");
SIGKIT_STATIC_ASSERT(offsetof(IqParams, sampleFormat) == 1024, "IqParams.sampleFormat");
SIGKIT_STATIC_ASSERT(offsetof(IqParams, quality) == 2048, "IqParams.quality");

SIGKIT_STATIC_ASSERT(sizeof(InvertParams) == 2048, "InvertParams is 2048 bytes");
SIGKIT_STATIC_ASSERT(offsetof(InvertParams, inputMode) == 0, "InvertParams.inputMode");
SIGKIT_STATIC_ASSERT(offsetof(InvertParams, sampleFormat) == 1024, "InvertParams.sampleFormat");

/* ---------------------------------------------------------------------------------------------
 * Opaque handles
 * ------------------------------------------------------------------------------------------- */

typedef struct BlockHandle BlockHandle;
typedef struct IqHandle IqHandle;
typedef struct InvertHandle InvertHandle;
typedef struct WavReadHandle WavReadHandle;
typedef struct WavWriteHandle WavWriteHandle;

/* ---------------------------------------------------------------------------------------------
 * Function types, one per distinct signature. A caller that binds the library at run time takes
 * its pointer types from here.
 *
 * Results: init 1 = handle built, 0 = failed (handle set to null), also for a record that can
 * never produce output (a rate that is not positive, a gain that is not finite, a negative band,
 * rates whose ratio the processing cannot take); free -2 = null handle, 1 = done; processing data
 * functions 1 ("nothing" is an output count of 0), or 0 with an output count of 0 and nothing
 * processed for a block whose output could pass 2^31 - 1 bytes (hand it over in smaller blocks).
 * wav_write_init returns 0 for a description no reader could read (no channels, a sample width
 * other than 8, 16, 24 or 32 bits for PCM or 32 for float, rate 0). wav_write_data returns 0 when
 * not all bytes reached the file and wav_write_free returns 0 when completing, closing or
 * publishing the file failed; the output name then keeps what it held, and what was written is
 * kept with a true header as NAME.partial.wav beside it (nothing is kept by a writer in the
 * no-replace mode that found the name taken; see sigkit_api.h).
 * ------------------------------------------------------------------------------------------- */

typedef int32_t (*BlockInitFn)(BlockParams params, BlockHandle** handle);
typedef int32_t (*BlockDataFn)(BlockHandle* handle, const void* in, int32_t inBytes,
                               const void** out, int32_t* outBytes);
typedef int32_t (*BlockFreeFn)(BlockHandle* handle);

typedef int32_t (*IqInitFn)(IqParams params, IqHandle** handle);
typedef int32_t (*IqDataFn)(IqHandle* handle, const void* in, int32_t inBytes, const void** out,
                            int32_t* outBytes);
typedef int32_t (*IqFreeFn)(IqHandle* handle);

typedef int32_t (*InvertInitFn)(InvertParams params, InvertHandle** handle);
typedef int32_t (*InvertDataFn)(InvertHandle* handle, const void* in, int32_t inBytes,
                                const void** out, int32_t* outBytes);
typedef int32_t (*InvertFreeFn)(InvertHandle* handle);

typedef int32_t (*WavReadInitFn)(WavDescription* description, WavReadHandle** handle);
typedef int32_t (*WavReadDataFn)(WavReadHandle* handle, const void** block, int32_t* bytes);
typedef int32_t (*WavReadFreeFn)(WavReadHandle* handle);

typedef int32_t (*WavWriteInitFn)(WavDescription description, WavWriteHandle** handle);
typedef int32_t (*WavWriteDataFn)(WavWriteHandle* handle, const void* data, int32_t bytes);
typedef int32_t (*WavWriteFreeFn)(WavWriteHandle* handle);

/* ---------------------------------------------------------------------------------------------
 * Exports
 * ------------------------------------------------------------------------------------------- */

/* AM and FM demodulation, frequency conversion, resampling. The four _data names are one
 * function; am_demod_free and fm_demod_free are one function. */
SIGKIT_API int32_t am_demod_init(BlockParams params, BlockHandle** handle);
SIGKIT_API int32_t am_demod_data(BlockHandle* handle, const void* in, int32_t inBytes,
                                 const void** out, int32_t* outBytes);
SIGKIT_API int32_t am_demod_free(BlockHandle* handle);

SIGKIT_API int32_t fm_demod_init(BlockParams params, BlockHandle** handle);
SIGKIT_API int32_t fm_demod_data(BlockHandle* handle, const void* in, int32_t inBytes,
                                 const void** out, int32_t* outBytes);
SIGKIT_API int32_t fm_demod_free(BlockHandle* handle);

SIGKIT_API int32_t lpflt_init(BlockParams params, BlockHandle** handle);
SIGKIT_API int32_t lpflt_data(BlockHandle* handle, const void* in, int32_t inBytes,
                              const void** out, int32_t* outBytes);
SIGKIT_API int32_t lpflt_free(BlockHandle* handle);

SIGKIT_API int32_t resampl_init(BlockParams params, BlockHandle** handle);
SIGKIT_API int32_t resampl_data(BlockHandle* handle, const void* in, int32_t inBytes,
                                const void** out, int32_t* outBytes);
SIGKIT_API int32_t resampl_free(BlockHandle* handle);

/* Two threads for one BlockHandle: sigkit_block_prepare does the first part of the next block's
 * processing (its samples decoded, the oscillator and mixer, the demodulator), and the _data call
 * for that block does the rest, with the same output as one _data call alone. Blocks are
 * prepared in input order, one thread at a time, each before its _data call and after every
 * earlier block was prepared (or its _data call returned); the _data calls go in the same order,
 * one thread at a time, while a later block is being prepared. A _data call takes the oldest
 * prepared block in place of its own bytes, which are not read (the caller may have reused
 * them), and fails (0, no output) unless inBytes is the prepared block's count. Result: 1, or 0
 * when nothing was done: a handle whose processing has no first part (iq2real, invert, real
 * input), a block above SIGKIT_PREPARE_BYTES or whose output one call could not count, no memory.
 * After a 0 no later block may be prepared: _data processes the rest whole. The floating-point
 * environment is the preparing thread's. */
#define SIGKIT_PREPARE_BYTES (4 << 20)
SIGKIT_API int32_t sigkit_block_prepare(BlockHandle* handle, const void* in, int32_t inBytes);
typedef int32_t (*BlockPrepareFn)(BlockHandle* handle, const void* in, int32_t inBytes);

/* Real to I/Q of half the rate, and back. */
SIGKIT_API int32_t iq2real_init(IqParams params, IqHandle** handle);
SIGKIT_API int32_t iq2real_data(IqHandle* handle, const void* in, int32_t inBytes, const void** out,
                                int32_t* outBytes);
SIGKIT_API int32_t iq2real_free(IqHandle* handle);

/* Spectral inversion. */
SIGKIT_API int32_t invert_init(InvertParams params, InvertHandle** handle);
SIGKIT_API int32_t invert_data(InvertHandle* handle, const void* in, int32_t inBytes,
                               const void** out, int32_t* outBytes);
SIGKIT_API int32_t invert_free(InvertHandle* handle);

/* WAV input: blocks of the file's stored sample bytes; a count of 0 means the data is exhausted. */
SIGKIT_API int32_t wav_read_init(WavDescription* description, WavReadHandle** handle);
SIGKIT_API int32_t wav_read_data(WavReadHandle* handle, const void** block, int32_t* bytes);
SIGKIT_API int32_t wav_read_free(WavReadHandle* handle);

/* WAV output: the file is created by init (under a temporary name), appended to by data, and
 * completed and published under its name by free. */
SIGKIT_API int32_t wav_write_init(WavDescription description, WavWriteHandle** handle);
SIGKIT_API int32_t wav_write_data(WavWriteHandle* handle, const void* data, int32_t bytes);
SIGKIT_API int32_t wav_write_free(WavWriteHandle* handle);

#ifdef __cplusplus
}
#endif

#endif /* SIGKIT_H */
