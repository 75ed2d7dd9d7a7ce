/* The public headers compile as C11 and give C the same layouts as C++. */
#include "sigkit.h"
#include "sigkit_api.h"

size_t sigkit_c_size_of(int record)
{
    switch (record)
    {
    case 0:
        return sizeof(WavDescription);
    case 1:
        return sizeof(BlockParams);
    case 2:
        return sizeof(IqParams);
    case 3:
        return sizeof(InvertParams);
    case 4:
        return offsetof(BlockParams, amplify);
    case 5:
        return offsetof(WavDescription, valid);
    case 6:
        return sizeof(sigkit_config);
    case 7:
        return sizeof(sigkit_wav_info);
    case 8:
        return sizeof(sigkit_wav_format);
    case 9:
        return offsetof(sigkit_config, average);
    case 10:
        return offsetof(sigkit_wav_info, start_time);
    default:
        return 0;
    }
}
