#pragma once

#include "wav/ByteSink.h"
#include "wav/ByteSource.h"
#include "wav/HeaderScan.h"
#include "wav/Metadata.h"
#include "wav/TimeName.h"
#include "wav/WavLayout.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace sigkit {

// One RIFF/WAVE file: the records of its known chunks, its format, and (in this base class) all
// of its sample data in memory. FileWAV_VeryFast streams the data through a window instead.
//
// Bytes are read from a ByteSource (a file by offset, a memory buffer, a stream read in order)
// and written to a ByteSink. The in-memory variant writes its file in place.
//
// Open modes: 0 closed, 1 reading, 2 writing, 3 both (bit 0 allows reading, bit 1 writing).
class FileWAV
{
public:
    // The data record's body holds 2 * count bytes (the streamed variant's window).
    explicit FileWAV(int32_t count);
    virtual ~FileWAV();
    FileWAV(const FileWAV&) = delete;
    FileWAV& operator=(const FileWAV&) = delete;

    // Creates or truncates the file for writing; result: the descriptor, or -1.
    virtual int32_t Create(const char* path);
    // Creates a new file with a time-made name in a directory that is created as needed.
    virtual int32_t CreateUnique(const char* directory, const char* suffix);
    // Opens an existing file (mode 0 read, 1 write, 2 both) and parses its header.
    // Result: the base 0, the streamed variant its descriptor; -1 when it cannot be opened.
    virtual int32_t Open(const char* path, int32_t mode);
    // Opens the bytes of a source for reading and parses their header; result 0, or -1 when
    // there is no source.
    int32_t Open(std::unique_ptr<ByteSource> bytes);
    // Writes what is pending; 0 when nothing was, negative when a write failed.
    virtual int32_t Flush();
    // Base: parses the file and loads all its sample data. Streamed: loads the window.
    virtual int32_t Load();
    // Flushes, completes the header and closes; 0 on success or when nothing was open, -1 when
    // anything did not reach the file or the close failed.
    virtual int32_t Close();
    // Moves within the sample data (whence 0 start, 1 current, 2 end; others keep the position);
    // the target is clamped to 0..DataSize(). Result: the new position.
    virtual uint64_t Seek(int64_t offset, int32_t whence);
    // Writes sample bytes; result: bytes taken (0 unless open for writing).
    virtual int32_t Write(const void* buffer, int32_t count);
    // Reads sample bytes; result: bytes delivered (0 unless open for reading, or at the end).
    virtual int32_t Read(void* buffer, int32_t count);

    // Recomputes block align, byte rate and the fact value from the format; result: the rate.
    uint32_t UpdateFormat();
    virtual void SetFormatTag(uint16_t tag);
    uint16_t GetFormatTag() const;
    void SetMono();
    void SetStereo();
    void SetBitsPerSample(uint16_t bits);
    // The fmt rate is the float truncated toward zero (limited to 0..2^32-1); freq keeps the
    // float's bits.
    void SetRate(float rate);
    // The fmt rate is the whole number given, exactly; freq keeps the float's bits.
    virtual void SetRate(float rate, uint32_t whole);
    void GetRates(uint32_t& rate, uint32_t& exactBits) const;
    // Copies the format record's size in bytes from source; the fact value follows the rate.
    virtual void SetFormat(const uint8_t* source);
    // Copies up to capacity bytes of the format body; result: the bytes copied.
    uint32_t GetFormat(uint8_t* target, uint32_t capacity) const;

    // What the header scan found.
    uint64_t DataSize() const { return dataSize; }
    // The data length the header declares (a header that declares none: the bytes present when
    // the file was opened; kUnknownLength for a stream).
    uint64_t DeclaredSize() const { return declaredSize; }
    int32_t OpenMode() const { return openMode; }
    const char* Path() const { return path; }
    uint32_t FormatSize() const { return fmt.size; }
    bool FormatFound() const { return formatFound; }
    bool Headerless() const { return headerless; }
    // The bytes ended inside a RIFF header (see HeaderScan::truncated).
    bool HeaderTruncated() const { return headerTruncated; }
    // A stream whose data did not begin within kStreamHeaderLimit bytes.
    bool HeaderOverLimit() const { return headerOverLimit; }
    // True once a write, a flush or a header update did not fully reach the file.
    bool WriteFailed() const { return writeFailed; }
    // The errno of the first failure (0 when none), for the caller's report.
    int LastError() const { return lastError; }

    // Largest sample data that a 32-bit RIFF header can declare with the current records.
    uint64_t MaxDataSize() const;

    // What the file's auxi chunk says (nothing known when it has none). The file name is not
    // consulted here: CombineWithName adds what it says.
    Metadata GetMetadata() const;
    // The auxi chunk of the header written next: made from the metadata, or none when it holds
    // nothing, so that an output carries metadata only when there is some and keeps the fixed
    // 334-byte layout otherwise. Takes effect at the next Create (the in-memory variant: at its
    // next flush); refused (false) while a file is open for writing, whose header is laid out.
    bool SetMetadata(const Metadata& metadata);
    bool HasAuxi() const { return auxi.size != 0; }

    // The clock that names time-named files (the system's UTC clock unless replaced).
    void SetClock(Clock source) { clock = source != nullptr ? source : SystemClock; }

protected:
    // Parses the chunks of the open source into the records (no source: a read error).
    HeaderScan ScanHeader();
    // The header bytes for the current records, declaring declaredData sample bytes.
    std::vector<uint8_t> HeaderBytes(uint64_t declaredData);
    // Writes the whole header at offset 0 and notes the body offsets of the records.
    bool WriteHeader(uint64_t declaredData);
    // Bytes of the auxi chunk in the written header (header, body and pad), 0 when none.
    uint32_t AuxiChunkBytes() const;
    // Closes what is open and opens path in the mode (0 read, 1 write, 2 both). Result: the
    // descriptor, or -1 when it cannot be opened (LastError tells why).
    int OpenDescriptor(const char* newPath, int32_t mode);
    // Closes what is open and clears the failure of the last file.
    void Restart();
    // Releases the source and the sink; result: the sink's close result.
    int ReleaseBytes();
    // Records a failed write: keeps the first errno.
    void NoteFailure(int error);
    bool SetPath(const char* newPath);
    bool CanRead() const { return (openMode & 1) != 0; }
    bool CanWrite() const { return (openMode & 2) != 0; }
    uint64_t ClampTarget(int64_t offset, int32_t whence, uint64_t current) const;
    // Reads the header of the source just opened; the variants load their data from there.
    virtual void StartReading();

    ChunkRecord riff;
    ChunkRecord fmt;
    ChunkRecord fact;
    ChunkRecord freq;
    ChunkRecord list;
    ChunkRecord auxi; // size 0: none
    ChunkRecord data;

    char path[kPathCapacity]{};
    int32_t openMode = 0;
    // Declared in this order so that a source reading the sink's descriptor goes first.
    std::unique_ptr<ByteSink> sink;
    std::unique_ptr<ByteSource> source;
    int reserved = -1;         // descriptor made by CreateUnique, taken over by Create
    uint64_t position = 0;     // in-memory variant: position in the sample data
    uint64_t dataSize = 0;     // sample-data bytes
    uint64_t declaredSize = 0; // data bytes the header declares
    uint64_t auxiDeclared = 0; // the size the auxi chunk read declared
    int32_t dirty = 0;         // written data not yet in the file
    bool formatFound = false;  // a fmt chunk was read
    bool headerless = false;   // the file did not start "RIFF"...."WAVE"
    bool headerTruncated = false;
    bool headerOverLimit = false;
    bool writeFailed = false;
    int lastError = 0;
    Clock clock = SystemClock;
};

} // namespace sigkit
