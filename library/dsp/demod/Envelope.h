#pragma once

#include <cstdint>

namespace sigkit::dsp {

// The magnitude of complex samples, out[k] = |I[k] + jQ[k]|, formed in double precision (the
// squares of floats are exact there) and rounded once to float.
void Envelope(const float* I, const float* Q, int32_t n, float* out);

} // namespace sigkit::dsp
