// libFuzzer entry points; the harness is chosen at build time (SIGKIT_FUZZ_TARGET).
#include "Harnesses.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    SIGKIT_FUZZ_TARGET(data, size);
    return 0;
}
