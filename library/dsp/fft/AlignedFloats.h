#pragma once

#include <cstddef>
#include <cstring>
#include <new>

namespace sigkit::fft {

// A fixed array of floats on a 64-byte boundary (one AVX-512 register, one cache line), zeroed
// when made. Moves, never copies.
class AlignedFloats
{
public:
    AlignedFloats() = default;
    explicit AlignedFloats(std::size_t count)
        : values(count == 0 ? nullptr
                            : static_cast<float*>(::operator new[](count * sizeof(float),
                                                                   std::align_val_t(kAlignment)))),
          size(count)
    {
        if (values != nullptr)
            std::memset(values, 0, count * sizeof(float));
    }
    AlignedFloats(AlignedFloats&& other) noexcept : values(other.values), size(other.size)
    {
        other.values = nullptr;
        other.size = 0;
    }
    AlignedFloats& operator=(AlignedFloats&& other) noexcept
    {
        if (this != &other)
        {
            Release();
            values = other.values;
            size = other.size;
            other.values = nullptr;
            other.size = 0;
        }
        return *this;
    }
    AlignedFloats(const AlignedFloats&) = delete;
    AlignedFloats& operator=(const AlignedFloats&) = delete;
    ~AlignedFloats() { Release(); }

    float* data() { return values; }
    const float* data() const { return values; }
    std::size_t Size() const { return size; }
    float& operator[](std::size_t i) { return values[i]; }
    const float& operator[](std::size_t i) const { return values[i]; }

private:
    static constexpr std::size_t kAlignment = 64;

    void Release()
    {
        if (values != nullptr)
            ::operator delete[](values, std::align_val_t(kAlignment));
        values = nullptr;
    }

    float* values = nullptr;
    std::size_t size = 0;
};

} // namespace sigkit::fft
