#pragma once

#include <cstddef>

// Time-named files: a new file whose name is the current UTC date and time, in a directory that
// is created as needed.
namespace sigkit {

struct UtcTime
{
    int year;
    int month; // 1 .. 12
    int day;
    int hour;
    int minute;
    int second;
};

using Clock = UtcTime (*)();
UtcTime SystemClock();

// Work buffer of a time-made path: directory, time name and suffix together, terminator included.
inline constexpr std::size_t kUniqueWorkPathSize = 80;
// A time name is 14 digits, "YYYYMMDDhhmmss".
inline constexpr std::size_t kTimeNameLength = 14;

// Writes the 14-digit UTC time name into target (capacity at least 15); result: target, or
// nullptr when it does not fit.
char* MakeTimeName(char* target, std::size_t capacity, Clock clock);

// Turns every "\" into "/", collapses runs of "/" and ends the path with one "/"; the empty path
// stays empty. Result: 0, or -1 when the trailing "/" does not fit the capacity (path unchanged).
int NormalizeDirPath(char* path, std::size_t capacity);

// Creates the directory named by path (which ends with "/") and, when that fails, every ancestor
// first. Result: 0 when the last creation succeeded, 1 otherwise (an existing directory counts as
// a failed creation).
int MakeDirs(char* path);

// Creates a new file named directory + time name + suffix, exclusively, after creating the
// directory. Never truncates an existing file: after 1000 attempts that find the name taken the
// result is -1. A path that would not fit the work buffer is refused (-1, ENAMETOOLONG).
// Result: the open descriptor, with the path in work.
int CreateUniqueFile(const char* directory, const char* suffix, char* work, std::size_t workSize,
                     Clock clock);

} // namespace sigkit
