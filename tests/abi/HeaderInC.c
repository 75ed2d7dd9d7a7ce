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
    default:
        return 0;
    }
}
