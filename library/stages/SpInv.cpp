#include "stages/SpInv.h"

namespace sigkit {

SpInv::SpInv(int32_t outLimitFloats) : BlockStage(kOutBufferFloats, outLimitFloats)
{
    complexInput = params.complexInput;
}

void SpInv::SetParam(const char* name, const char* value)
{
    params.Set(name, value);
    complexInput = params.complexInput;
}

int32_t SpInv::Start()
{
    StartBlocks(0);
    return 1;
}

void SpInv::Process(float* I, float* Q, int32_t pairs)
{
    // Real input: (the shifted copy, the delayed input).
    if (complexInput != 0 && params.revIQ != 0)
        EmitPairs(I, Q, pairs);
    else
        EmitPairs(Q, I, pairs);
}

} // namespace sigkit
