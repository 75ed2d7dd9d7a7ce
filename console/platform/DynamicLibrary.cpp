#include "platform/DynamicLibrary.h"

#include <climits>
#include <dlfcn.h>
#include <unistd.h>

namespace sigrun::platform {

DynamicLibrary::~DynamicLibrary()
{
    Unload();
}

bool DynamicLibrary::Load(const char* fileName)
{
    Unload();
    dlerror();
    handle = dlopen(fileName, RTLD_NOW | RTLD_LOCAL);
    if (handle != nullptr)
        return true;
    const char* text = dlerror();
    error = text != nullptr ? text : "unknown error";

    char program[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", program, sizeof program - 1);
    if (length <= 0)
        return false;
    std::string beside(program, static_cast<std::size_t>(length));
    const std::size_t slash = beside.rfind('/');
    if (slash == std::string::npos)
        return false;
    beside = beside.substr(0, slash) + "/../lib/" + fileName;
    if (access(beside.c_str(), F_OK) != 0)
        return false;
    dlerror();
    handle = dlopen(beside.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr)
    {
        const char* again = dlerror();
        error = again != nullptr ? again : "unknown error";
    }
    return handle != nullptr;
}

void DynamicLibrary::Unload()
{
    if (handle != nullptr)
        dlclose(handle);
    handle = nullptr;
}

void* DynamicLibrary::Find(const char* exportName)
{
    if (handle == nullptr)
        return nullptr;
    dlerror();
    return dlsym(handle, exportName);
}

} // namespace sigrun::platform
