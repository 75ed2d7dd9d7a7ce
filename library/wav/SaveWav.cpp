#include "wav/SaveWav.h"

#include "Text.h"
#include "wav/TimeName.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace sigkit {

SaveWav::SaveWav() : file(std::make_unique<FileWAV_VeryFast>(16384))
{
}

SaveWav::~SaveWav()
{
    if (fileOpen != 0)
        Stop();
}

int SaveWav::LastError() const
{
    if (createError != 0)
        return createError;
    return file->LastError();
}

void SaveWav::StoreText(char* field, std::size_t size, const char* text)
{
    // A text that does not fit is refused: the file would otherwise get another name.
    if (!CopyText(field, size, text))
        textRefused = true;
}

void SaveWav::SetParam(const char* name, const char* value)
{
    if (TextIs(name, "SetChan"))
    {
        if (TextIs(value, "Simplex"))
            channelMode = 0;
        else if (TextIs(value, "Duplex"))
            channelMode = 1;
    }
    if (TextIs(name, "SetWavMode"))
    {
        static const struct
        {
            const char* word;
            int32_t tag;
        } modes[] = {{"PCM", 1},  {"PCM8", 241}, {"IKM", 246}, {"IKM2", 247},
                     {"Alaw", 6}, {"Mlaw", 7},   {"Float", 3}};
        for (const auto& mode : modes)
            if (TextIs(value, mode.word))
                wavMode = mode.tag;
    }
    if (TextIs(name, "Frequency"))
        SetRateHz(static_cast<float>(std::strtod(value != nullptr ? value : "", nullptr)));
    if (TextIs(name, "SetBits"))
        bits = static_cast<uint16_t>(std::strtol(value != nullptr ? value : "", nullptr, 10));
    if (TextIs(name, pathKey))
        StoreText(directoryPart, sizeof directoryPart, value);
    if (TextIs(name, "SetPrmPath"))
        StoreText(pathKey, sizeof pathKey, value);
    if (TextIs(name, "GenName"))
    {
        if (TextIs(value, "DataTime"))
            nameKind = 0;
        else if (TextIs(value, "NameExt"))
            nameKind = 1;
    }
    if (TextIs(name, "FullName"))
        StoreText(fullName, sizeof fullName, value);
    if (TextIs(name, "Name"))
        StoreText(namePart, sizeof namePart, value);
    if (TextIs(name, "Ext"))
        StoreText(extension, sizeof extension, value);
    if (TextIs(name, "SaveMode"))
    {
        if (TextIs(value, "Direct"))
            saveMode = 0;
        else if (TextIs(value, "Channel"))
            saveMode = 1;
        else if (TextIs(value, "Randomize"))
            saveMode = 2;
    }
}

int32_t SaveWav::Start()
{
    fileOpen = 0;
    createFailed = false;
    closeFailed = false;
    createError = 0;
    return 0;
}

void SaveWav::Stop()
{
    if (fileOpen == 0)
        return;
    if (file->Close() != 0)
        closeFailed = true;
    fileOpen = 0;
}

bool SaveWav::Abandon()
{
    if (fileOpen == 0)
        return false;
    fileOpen = 0;
    closeFailed = true;
    return file->Abandon() == 0;
}

bool SaveWav::CreateFile()
{
    if (textRefused)
    {
        createError = ENAMETOOLONG;
        return false;
    }
    int32_t created = -1;
    if (saveMode == 0)
        created = file->Create(fullName);
    else
    {
        // "Channel" writes into the directory part, "Randomize" into two pseudo-random levels
        // below it; the file is named by its name part and extension, or by the time.
        char directory[kPathCapacity];
        int n = 0;
        if (saveMode == 2)
        {
            const int r = std::rand();
            n = std::snprintf(directory, sizeof directory, "%s/%02X/%02X/", directoryPart, r % 256,
                              (r >> 8) % 256);
        }
        else
            n = std::snprintf(directory, sizeof directory, "%s/", directoryPart);
        if (n < 0 || static_cast<std::size_t>(n) >= sizeof directory)
        {
            createError = ENAMETOOLONG;
            return false;
        }
        if (nameKind == 1)
        {
            // The folder is made as the time-named variant makes it.
            if (NormalizeDirPath(directory, sizeof directory) == 0)
                MakeDirs(directory);
            char full[kPathCapacity];
            n = std::snprintf(full, sizeof full, "%s%s%s", directory, namePart, extension);
            if (n < 0 || static_cast<std::size_t>(n) >= sizeof full)
            {
                createError = ENAMETOOLONG;
                return false;
            }
            created = file->Create(full);
        }
        else
            created = file->CreateUnique(directory, extension);
    }
    if (created < 0)
    {
        createError = file->LastError() != 0 ? file->LastError() : EIO;
        return false;
    }
    CopyText(outputPath, file->Path());
    file->SetFormatTag(static_cast<uint16_t>(wavMode));
    if (channelMode == 1)
        file->SetStereo();
    else
        file->SetMono();
    file->SetBitsPerSample(bits);
    // The last setter rewrites the fmt and freq bodies, so the header carries all four settings.
    if (wholeRate)
        file->SetRate(rate, rateHz);
    else
        file->SetRate(rate);
    fileOpen = 1;
    nameReady = 1;
    return true;
}

int32_t SaveWav::Put(int32_t port, const void* block, int32_t bytes)
{
    const auto* text = static_cast<const char*>(block);
    switch (port)
    {
    case 0:
        if (fileOpen == 0)
        {
            if (createFailed)
                return bytes;
            if (!CreateFile())
            {
                createFailed = true;
                return bytes;
            }
        }
        if (block != nullptr && bytes > 0)
            file->Write(block, bytes);
        break;
    case 1:
        StoreText(namePart, sizeof namePart, text);
        break;
    case 2:
        StoreText(extension, sizeof extension, text);
        break;
    case 3:
        StoreText(directoryPart, sizeof directoryPart, text);
        break;
    default:
        break;
    }
    return bytes;
}

int32_t SaveWav::Get(int32_t port, const void** block, int32_t* bytes)
{
    if (bytes == nullptr)
        return 0;
    *bytes = 0;
    if (port == 0 && nameReady != 0)
    {
        nameReady = 0;
        if (block != nullptr)
            *block = outputPath;
        *bytes = static_cast<int32_t>(std::strlen(outputPath) + 1);
    }
    return *bytes;
}

} // namespace sigkit
