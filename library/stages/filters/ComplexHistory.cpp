#include "stages/filters/ComplexHistory.h"

#include "stages/kernels/Kernels.h"

#include <algorithm>
#include <new>

namespace sigkit {

ComplexHistory::ComplexHistory() : I(kHistoryCapacity), Q(kHistoryCapacity)
{
    scratch = kernels::AllocateComplex(kHistoryCapacity);
    if (scratch == nullptr)
        throw std::bad_alloc();
    scratchI = scratch;
    scratchQ = scratch + kHistoryCapacity;
}

ComplexHistory::~ComplexHistory()
{
    kernels::FreeComplex(scratch);
}

void ComplexHistory::Clear(int32_t entries)
{
    const int32_t cleared = std::clamp(entries, 0, kHistoryCapacity);
    std::fill(I.begin(), I.begin() + cleared, 0.0f);
    std::fill(Q.begin(), Q.begin() + cleared, 0.0f);
    w = 0;
}

} // namespace sigkit
