#include "LibraryBinding.h"

#include "Messages.h"
#include "ProcessingModes.h"

namespace sigrun {

int LibraryBinding::Load()
{
    if (!library.Load(kLibraryName))
        return Fail(kExitFailed,
                    std::string("cannot load ") + kLibraryName + ": " + library.Error());
    readInit = library.Lookup<WavReadInitFn>("wav_read_init");
    readData = library.Lookup<WavReadDataFn>("wav_read_data");
    readFree = library.Lookup<WavReadFreeFn>("wav_read_free");
    writeInit = library.Lookup<WavWriteInitFn>("wav_write_init");
    writeData = library.Lookup<WavWriteDataFn>("wav_write_data");
    writeFree = library.Lookup<WavWriteFreeFn>("wav_write_free");
    writeNoReplace = library.Lookup<SigkitWavWriteNoReplaceFn>("sigkit_wav_write_no_replace");
    writeFinish = library.Lookup<SigkitWavWriteFinishFn>("sigkit_wav_write_finish");
    writeAbandon = library.Lookup<SigkitWavWriteAbandonFn>("sigkit_wav_write_abandon");
    readLength = library.Lookup<SigkitWavReadLengthFn>("sigkit_wav_read_length");
    api.Bind(library);
    stream.strerror = library.Lookup<decltype(stream.strerror)>("sigkit_strerror");
    stream.openFd = library.Lookup<decltype(stream.openFd)>("sigkit_wav_open_fd");
    stream.rawOpen = library.Lookup<decltype(stream.rawOpen)>("sigkit_raw_open");
    stream.rawOpenFd = library.Lookup<decltype(stream.rawOpenFd)>("sigkit_raw_open_fd");
    stream.readStored = library.Lookup<decltype(stream.readStored)>("sigkit_wav_read_stored");
    stream.closeReader = library.Lookup<decltype(stream.closeReader)>("sigkit_wav_close_reader");
    stream.createFd = library.Lookup<decltype(stream.createFd)>("sigkit_wav_create_fd");
    stream.rawCreateFd = library.Lookup<decltype(stream.rawCreateFd)>("sigkit_raw_create_fd");
    stream.write = library.Lookup<decltype(stream.write)>("sigkit_wav_write");
    stream.writeStored = library.Lookup<decltype(stream.writeStored)>("sigkit_wav_write_stored");
    stream.close = library.Lookup<decltype(stream.close)>("sigkit_wav_close");
    stream.abandon = library.Lookup<decltype(stream.abandon)>("sigkit_wav_abandon");
    stream.clipped = library.Lookup<decltype(stream.clipped)>("sigkit_wav_clipped");
    readMetadata = library.Lookup<SigkitWavReadMetadataFn>("sigkit_wav_read_metadata");
    writeInitMetadata =
        library.Lookup<SigkitWavWriteInitMetadataFn>("sigkit_wav_write_init_metadata");
    configInit = library.Lookup<decltype(configInit)>("sigkit_config_init");
    create = library.Lookup<decltype(create)>("sigkit_create");
    latency = library.Lookup<decltype(latency)>("sigkit_latency");
    destroy = library.Lookup<decltype(destroy)>("sigkit_destroy");
    spectrumOpen = library.Lookup<SigkitSpectrumOpenFn>("sigkit_spectrum_open");
    spectrumInfo = library.Lookup<SigkitSpectrumGetInfoFn>("sigkit_spectrum_get_info");
    spectrumPicture = library.Lookup<SigkitSpectrumPictureFn>("sigkit_spectrum_picture");
    spectrumStations = library.Lookup<SigkitSpectrumStationsFn>("sigkit_spectrum_stations");
    spectrumDestroy = library.Lookup<SigkitSpectrumDestroyFn>("sigkit_spectrum_destroy");
    strerror = library.Lookup<SigkitStrerrorFn>("sigkit_strerror");
    families.assign(static_cast<std::size_t>(ModeCount()), FamilyExports{});
    for (int mode = 1; mode <= ModeCount(); ++mode)
    {
        FamilyExports& family = families[static_cast<std::size_t>(mode - 1)];
        if (Mode(mode).family == nullptr)
            continue; // a kind of the sigkit_ interface only
        family.prefix = Mode(mode).family;
        family.initName = family.prefix + "_init";
        family.dataName = family.prefix + "_data";
        family.freeName = family.prefix + "_free";
        family.init = library.Find(family.initName.c_str());
        family.data = library.Find(family.dataName.c_str());
        family.release = library.Find(family.freeName.c_str());
        family.prepare = library.Lookup<BlockPrepareFn>("sigkit_block_prepare");
    }
    return kExitSuccess;
}

void LibraryBinding::Unload()
{
    library.Unload();
}

const FamilyExports& LibraryBinding::Family(int mode) const
{
    return families.at(static_cast<std::size_t>(mode - 1));
}

std::string MissingExport(const std::string& exportName)
{
    return std::string(kLibraryName) + " has no export " + Quoted(exportName);
}

int Missing(const std::string& exportName)
{
    return Fail(kExitFailed, MissingExport(exportName));
}

} // namespace sigrun
