#pragma once

#include "wav/ByteSource.h"
#include "wav/WavLayout.h"

#include <cstdint>

namespace sigkit {

// What the scan of a file's chunks found.
struct HeaderScan
{
    bool headerless = false;  // the bytes did not start "RIFF"...."WAVE"
    bool formatFound = false; // a fmt chunk header was there (its body may be short or cut off)
    bool dataFound = false;
    bool readError = false;
    // The bytes ended inside a RIFF header: before its first 12 bytes were complete, or before
    // the data chunk began (a file or stream cut off in its header, an empty one included).
    bool truncated = false;
    // A stream whose data chunk did not begin within kStreamHeaderLimit bytes: the scan gave up.
    bool overLimit = false;
    uint64_t dataOffset = 0;   // offset of the first sample byte
    uint64_t dataSize = 0;     // sample bytes present; kUnknownLength: up to the end of a stream
    uint64_t declaredSize = 0; // what the header declares; when it declares no length, dataSize
    uint64_t auxiDeclared = 0; // the size an auxi chunk declared (its record holds what fits)
};

// The records that a scan fills.
struct ScanTargets
{
    ChunkRecord& fmt;
    ChunkRecord& fact;
    ChunkRecord& freq;
    ChunkRecord& list;
    ChunkRecord& auxi;
};

// A stream's data chunk must begin within this many bytes; the scan reads no further than that
// (and at most the first kilobyte of a chunk that starts before it) before it gives up, however
// long the stream.
inline constexpr uint64_t kStreamHeaderLimit = 1u << 20;

// Parses the chunks of a RIFF/WAVE file into the records. Never reads past the end of the
// source, never overruns a record, and always ends: every step moves forward, and a size that
// would wrap the position or step back ends the scan. On a source that cannot seek the scan
// stops at the data chunk, so that the data can be read in order behind it.
//
// Bytes that do not start "RIFF"/"RF64", any 4 bytes, "WAVE" are headerless sample data from
// offset 12 on, at rate 0 (the fmt rate and the freq value become 0).
HeaderScan ScanChunks(ByteSource& source, const ScanTargets& targets);

} // namespace sigkit
