#pragma once

#include <string>

namespace sigrun::platform {

// A shared library loaded by file name (the platform's search rules, the program's run path
// first) and unloaded when the object goes.
class DynamicLibrary
{
public:
    DynamicLibrary() = default;
    ~DynamicLibrary();
    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;

    // Loads by file name, found through the program's run path ("../lib" beside its folder) and
    // the platform's search rules; when a loader in between hides the run path (as sanitizer
    // runtimes do), the same "../lib" folder is tried by its full path. True when loaded;
    // otherwise Error() tells why.
    bool Load(const char* fileName);
    void Unload();

    // The address of an export, or nullptr when the library has none of that name.
    void* Find(const char* exportName);
    template <typename Function> Function Lookup(const char* exportName)
    {
        return reinterpret_cast<Function>(Find(exportName));
    }

    const std::string& Error() const { return error; }

private:
    void* handle = nullptr;
    std::string error;
};

} // namespace sigrun::platform
