/*
 * sigkit_api.h - the sigkit_ interface of libsigkit, beside the 24 exports of sigkit.h.
 *
 * Functions here work on the handles of sigkit.h. They answer 1 for success and 0 for a failure,
 * with errno set to say why.
 *
 * Valid C (C11) and C++.
 */
#ifndef SIGKIT_API_H
#define SIGKIT_API_H

#include "sigkit.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---------------------------------------------------------------------------------------------
 * Output files
 *
 * wav_write_init writes under a temporary name beside the output (a dot, the output's file name,
 * a number, ".tmp"); its header says "length unknown" until the end, so that a process killed
 * while writing leaves a file every reader reads. wav_write_free completes the header and renames
 * the file onto the output name, replacing what held it (a link is replaced, never followed): the
 * output name only ever holds a complete file. When anything failed (a write, the disk full, the
 * completion, the publication), wav_write_free returns 0 with errno set, the output name keeps
 * what it held, and what was written is kept, with a true header, as NAME.partial.wav beside it
 * (NAME: the output name without ".wav").
 * ------------------------------------------------------------------------------------------- */

/* From now on the handle publishes only when nothing holds the output name: of two writers of
 * one name in this mode, one publishes and the other's wav_write_free fails with EEXIST. */
SIGKIT_API int32_t sigkit_wav_write_no_replace(WavWriteHandle* handle);

/* Gives up the output: what was written is completed with a true header and kept as
 * NAME.partial.wav; the output name keeps what it held. The handle is freed in every case. After
 * wav_write_data failed, this in place of wav_write_free tells where the bytes are and how many
 * frames they hold.
 * partialPath (capacity bytes) receives the partial file's path, frames the sample frames it
 * holds; either may be null. 0 when the partial file could not be made (partialPath then names
 * where the bytes are, "" when nowhere) or its path does not fit (ERANGE). */
SIGKIT_API int32_t sigkit_wav_write_abandon(WavWriteHandle* handle, char* partialPath,
                                            size_t capacity, uint64_t* frames);

/* ---------------------------------------------------------------------------------------------
 * Input files
 * ------------------------------------------------------------------------------------------- */

/* The data bytes the input's header declares and the bytes wav_read_data has handed out so far,
 * so that a caller can tell, once the data is exhausted, an input that ended before its header's
 * length (a recording cut off, a file truncated while it was read). A header that declares no
 * length counts as declaring the bytes present when the file was opened. Either pointer may be
 * null. 0 (errno set) when no file was opened. */
SIGKIT_API int32_t sigkit_wav_read_length(const WavReadHandle* handle, uint64_t* declaredBytes,
                                          uint64_t* deliveredBytes);

/* Function types for callers that bind the library at run time. */
typedef int32_t (*SigkitWavWriteNoReplaceFn)(WavWriteHandle* handle);
typedef int32_t (*SigkitWavWriteAbandonFn)(WavWriteHandle* handle, char* partialPath,
                                           size_t capacity, uint64_t* frames);
typedef int32_t (*SigkitWavReadLengthFn)(const WavReadHandle* handle, uint64_t* declaredBytes,
                                         uint64_t* deliveredBytes);

#ifdef __cplusplus
}
#endif

#endif /* SIGKIT_API_H */
