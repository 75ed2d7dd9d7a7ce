#include "SigkitCalls.h"

#include <utility>

namespace sigrun {

namespace {

template <typename Function>
void Take(platform::DynamicLibrary& library, const char* name, Function& call)
{
    call = library.Lookup<Function>(name);
}

} // namespace

void SigkitCalls::Bind(platform::DynamicLibrary& library)
{
    Take(library, "sigkit_strerror", strerror);
    Take(library, "sigkit_config_init", configInit);
    Take(library, "sigkit_create", create);
    Take(library, "sigkit_max_output", maxOutput);
    Take(library, "sigkit_process", process);
    Take(library, "sigkit_flush", flush);
    Take(library, "sigkit_output_layout", outputLayout);
    Take(library, "sigkit_destroy", destroy);
    Take(library, "sigkit_wav_format_init", formatInit);
    Take(library, "sigkit_wav_create", wavCreate);
    Take(library, "sigkit_wav_create_fd", wavCreateFd);
    Take(library, "sigkit_raw_format_init", rawFormatInit);
    Take(library, "sigkit_raw_create_fd", rawCreateFd);
    Take(library, "sigkit_wav_write", wavWrite);
    Take(library, "sigkit_wav_clipped", wavClipped);
    Take(library, "sigkit_wav_close", wavClose);
    Take(library, "sigkit_wav_abandon", wavAbandon);
}

const char* SigkitCalls::FirstMissing() const
{
    const std::pair<bool, const char*> calls[] = {
        {strerror != nullptr, "sigkit_strerror"},
        {configInit != nullptr, "sigkit_config_init"},
        {create != nullptr, "sigkit_create"},
        {maxOutput != nullptr, "sigkit_max_output"},
        {process != nullptr, "sigkit_process"},
        {flush != nullptr, "sigkit_flush"},
        {outputLayout != nullptr, "sigkit_output_layout"},
        {destroy != nullptr, "sigkit_destroy"},
        {formatInit != nullptr, "sigkit_wav_format_init"},
        {wavCreate != nullptr, "sigkit_wav_create"},
        {wavCreateFd != nullptr, "sigkit_wav_create_fd"},
        {rawFormatInit != nullptr, "sigkit_raw_format_init"},
        {rawCreateFd != nullptr, "sigkit_raw_create_fd"},
        {wavWrite != nullptr, "sigkit_wav_write"},
        {wavClipped != nullptr, "sigkit_wav_clipped"},
        {wavClose != nullptr, "sigkit_wav_close"},
        {wavAbandon != nullptr, "sigkit_wav_abandon"},
    };
    for (const auto& [bound, name] : calls)
        if (!bound)
            return name;
    return nullptr;
}

const char* SigkitCalls::Text(int status) const
{
    return strerror != nullptr ? strerror(status) : "unknown status";
}

} // namespace sigrun
