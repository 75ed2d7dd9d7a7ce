#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sigkit {

// One known chunk of a RIFF/WAVE file: its id, the body size in use and the body itself. The
// body's capacity is fixed when the file object is made; a chunk read from a file never fills
// more than that capacity.
struct ChunkRecord
{
    char id[4]{};
    uint32_t size = 0;         // body bytes in use
    std::vector<uint8_t> body; // capacity fixed at construction (the data window excepted)
    uint64_t bodyOffset = 0;   // file offset of the body, noted when the header is read or written
};

// Layout of the header this layer writes: RIFF, "fmt " (18), "fact" (4), "freq" (4, declared so
// that it covers the LIST chunk behind it), "LIST" (256), "data".
inline constexpr uint32_t kWrittenHeaderBytes = 334;

// Capacities of the known chunk records. A format chunk keeps up to 40 bytes, the size of an
// extensible format; larger ones are read that far and the rest skipped.
inline constexpr uint32_t kFmtCapacity = 40;
inline constexpr uint32_t kFmtInitialSize = 18;
inline constexpr uint32_t kFactCapacity = 4;
inline constexpr uint32_t kFreqCapacity = 4;
inline constexpr uint32_t kListCapacity = 256;
// A format chunk holds the fields every reader needs in its first 16 bytes.
inline constexpr uint32_t kFmtEssentialBytes = 16;
// Largest sample data an RF64 file made by this layer may hold.
inline constexpr uint64_t kRf64DataLimit = (1ull << 62);
// Paths held by the file layer; a longer path is refused, never cut.
inline constexpr std::size_t kPathCapacity = 1024;
// A 32-bit size field that says "not known": the writer never came back to fill it in.
inline constexpr uint32_t kUnknownSize32 = 0xFFFFFFFFu;

// Format tags that the layer treats specially.
inline constexpr uint16_t kTagPcm = 1;
inline constexpr uint16_t kTagFloat = 3;
inline constexpr uint16_t kTagAlaw = 6;
inline constexpr uint16_t kTagMulaw = 7;
inline constexpr uint16_t kTagPcm8 = 241;
inline constexpr uint16_t kTagIkm = 246;
inline constexpr uint16_t kTagIkm2 = 247;
inline constexpr uint16_t kTagExtensible = 0xFFFE;

} // namespace sigkit
