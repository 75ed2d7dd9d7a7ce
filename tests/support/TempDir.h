#pragma once

#include <string>

namespace sigtest {

// A fresh directory under the system's temporary folder, removed with everything in it when the
// object goes.
class TempDir
{
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return path; }
    // path + "/" + name
    std::string File(const std::string& name) const;

private:
    std::string path;
};

std::string ReadFileBytes(const std::string& path);
// The first `count` bytes of a file (fewer when it is shorter).
std::string ReadFileHead(const std::string& path, std::size_t count);
void WriteFileBytes(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);

} // namespace sigtest
