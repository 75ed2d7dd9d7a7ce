#pragma once

#include <cstddef>
#include <cstring>

namespace sigkit {

// Copies a NUL-terminated text into a fixed field. A text that does not fit (terminator included)
// is refused: the field is left untouched and the result is false. A null source counts as "".
inline bool CopyText(char* field, std::size_t fieldSize, const char* text)
{
    if (field == nullptr || fieldSize == 0)
        return false;
    if (text == nullptr)
        text = "";
    const std::size_t length = strnlen(text, fieldSize);
    if (length >= fieldSize)
        return false;
    std::memcpy(field, text, length + 1);
    return true;
}

template <std::size_t N>
inline bool CopyText(char (&field)[N], const char* text)
{
    return CopyText(field, N, text);
}

// Length of a text held in a fixed field that may lack its terminator.
template <std::size_t N>
inline std::size_t TextLength(const char (&field)[N])
{
    return strnlen(field, N);
}

// Exact, case-sensitive comparison of a whole text with a word; null counts as "".
inline bool TextIs(const char* text, const char* word)
{
    return std::strcmp(text != nullptr ? text : "", word) == 0;
}

// The same comparison for a text held in a fixed field that may lack its terminator (a record
// passed in by a caller): never reads past the field.
template <std::size_t N>
inline bool FieldIs(const char (&field)[N], const char* word)
{
    const std::size_t length = std::strlen(word);
    return length < N && strnlen(field, N) == length && std::memcmp(field, word, length) == 0;
}

} // namespace sigkit
