#include "api/SampleCoding.h"

#include "sigkit_api.h"
#include "stages/kernels/Kernels.h"

#include <cstring>

namespace sigkit::api {

namespace {

using kernels::StoredFormat;

constexpr auto Format(StoredFormat f)
{
    return static_cast<int32_t>(f);
}

// cu8: 127.5 is the centre and the scale, so that 0 and 255 are -1.0 and +1.0.
constexpr float kCu8Centre = 127.5f;

} // namespace

bool SampleCoding::Set(int newType)
{
    struct Row
    {
        int type;
        uint32_t bytes;
        bool complexType;
        bool floatType;
        StoredFormat format;
        float toUnit;
        float fromUnit;
    };
    static constexpr Row kRows[] = {
        {SIGKIT_SAMPLE_U8, 1, false, false, StoredFormat::Int8, 0x1p-7f, 0x1p7f},
        {SIGKIT_SAMPLE_S16, 2, false, false, StoredFormat::Int16, 0x1p-15f, 0x1p15f},
        {SIGKIT_SAMPLE_S24, 3, false, false, StoredFormat::Int24, 0x1p-23f, 0x1p23f},
        {SIGKIT_SAMPLE_S32, 4, false, false, StoredFormat::Int32, 0x1p-31f, 0x1p31f},
        {SIGKIT_SAMPLE_F32, 4, false, true, StoredFormat::Int32, 0.0f, 0.0f},
        {SIGKIT_SAMPLE_F64, 8, false, true, StoredFormat::Int32, 0.0f, 0.0f},
        {SIGKIT_SAMPLE_CU8, 1, true, false, StoredFormat::UInt8, 0.0f, 0.0f},
        {SIGKIT_SAMPLE_CS8, 1, true, false, StoredFormat::Int8, 0x1p-7f, 0x1p7f},
        {SIGKIT_SAMPLE_CS16, 2, true, false, StoredFormat::Int16, 0x1p-15f, 0x1p15f},
        {SIGKIT_SAMPLE_CF32, 4, true, true, StoredFormat::Int32, 0.0f, 0.0f},
    };
    for (const Row& row : kRows)
        if (row.type == newType)
        {
            type = row.type;
            bytes = row.bytes;
            complexType = row.complexType;
            floatType = row.floatType;
            format = Format(row.format);
            toUnit = row.toUnit;
            fromUnit = row.fromUnit;
            return true;
        }
    return false;
}

void SampleCoding::ToFloats(uint8_t* stored, std::size_t n, float* out) const
{
    const kernels::KernelTable& table = kernels::Active();
    const auto count = static_cast<int32_t>(n);
    switch (type)
    {
    case SIGKIT_SAMPLE_F32:
    case SIGKIT_SAMPLE_CF32:
        std::memcpy(out, stored, n * sizeof(float));
        return;
    case SIGKIT_SAMPLE_F64:
        for (std::size_t i = 0; i < n; ++i)
        {
            double v = 0.0;
            std::memcpy(&v, stored + 8 * i, sizeof v);
            out[i] = static_cast<float>(v);
        }
        return;
    case SIGKIT_SAMPLE_CU8:
        // The kernel gives x - 127 exactly; x - 127.5 is a half-integer, exact too, and the one
        // division rounds it once.
        table.toFloat[format](stored, count, out);
        for (std::size_t i = 0; i < n; ++i)
            out[i] = (out[i] - 0.5f) / kCu8Centre;
        return;
    case SIGKIT_SAMPLE_U8:
        // Unsigned 8-bit samples are centred on 128: flipping the top bit makes them signed.
        for (std::size_t i = 0; i < n; ++i)
            stored[i] ^= 0x80u;
        break;
    default:
        break;
    }
    table.toFloat[format](stored, count, out);
    // A power of two: the scaling is exact.
    for (std::size_t i = 0; i < n; ++i)
        out[i] *= toUnit;
}

uint64_t SampleCoding::FromFloats(const float* in, std::size_t n, float* scaled, uint8_t* out) const
{
    if (type == SIGKIT_SAMPLE_F32 || type == SIGKIT_SAMPLE_CF32)
    {
        std::memcpy(out, in, n * sizeof(float));
        return 0;
    }
    if (type == SIGKIT_SAMPLE_F64)
    {
        for (std::size_t i = 0; i < n; ++i)
        {
            const double v = in[i];
            std::memcpy(out + 8 * i, &v, sizeof v);
        }
        return 0;
    }
    const kernels::KernelTable& table = kernels::Active();
    uint64_t clipped = 0;
    if (type == SIGKIT_SAMPLE_CU8)
    {
        // round(v * 127.5 + 127.5): the kernel adds 127 to v * 127.5 + 0.5 and rounds the sum,
        // halves to even, within 0 .. 255. NaN is 0.0 here too (before the half is added).
        for (std::size_t i = 0; i < n; ++i)
        {
            const float v = in[i] == in[i] ? in[i] : 0.0f;
            scaled[i] = v * kCu8Centre + 0.5f;
        }
        table.fromFloat[format](reinterpret_cast<const uint8_t*>(scaled), static_cast<int32_t>(n),
                                out);
        for (std::size_t i = 0; i < n; ++i)
            clipped += (out[i] == 0x00u || out[i] == 0xFFu) ? 1 : 0;
        return clipped;
    }
    for (std::size_t i = 0; i < n; ++i)
        scaled[i] = in[i] * fromUnit; // exact; beyond the float range: infinite
    table.fromFloat[format](reinterpret_cast<const uint8_t*>(scaled), static_cast<int32_t>(n), out);
    for (std::size_t i = 0; i < n; ++i)
    {
        const uint8_t* s = out + i * bytes;
        // Little-endian: the top byte 0x7F or 0x80 with every lower byte 0xFF or 0x00.
        const uint8_t top = s[bytes - 1];
        bool atEnd = top == 0x7F || top == 0x80;
        const uint8_t fill = top == 0x7F ? 0xFF : 0x00;
        for (uint32_t b = 0; atEnd && b + 1 < bytes; ++b)
            atEnd = s[b] == fill;
        clipped += atEnd ? 1 : 0;
    }
    if (type == SIGKIT_SAMPLE_U8)
        for (std::size_t i = 0; i < n; ++i)
            out[i] ^= 0x80u;
    return clipped;
}

} // namespace sigkit::api
