#include "platform/DynamicLibrary.h"

#include <dlfcn.h>

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
    if (handle == nullptr)
    {
        const char* text = dlerror();
        error = text != nullptr ? text : "unknown error";
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
