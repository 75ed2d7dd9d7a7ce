#pragma once

#include <cstdint>

namespace sigkit {

// The operations every processing step offers: parameters set by name as text, a start that
// prepares processing, blocks handed in and fetched out through numbered ports, and a stop before
// destruction. All counts are byte counts; the float blocks between the converter and the
// processing stages hold 32-bit floats, interleaved I, Q, I, Q... for complex signals.
class Stage
{
public:
    virtual ~Stage() = default;

    // Names compare exactly; a name the stage does not have is ignored, and an unknown choice
    // word selects the parameter's fallback.
    virtual void SetParam(const char* name, const char* value) = 0;
    // Designs filters, clears histories and counters, and clears the stopped flag.
    virtual int32_t Start() = 0;
    // After Stop, Put refuses input.
    virtual void Stop() = 0;
    // Hands a block to the stage. Processing stages keep a reference to it (no copy) until the
    // Gets have taken it all or the next Put replaces it; the converter converts at once.
    // Returns 0 when stopped.
    virtual int32_t Put(int32_t port, const void* block, int32_t bytes) = 0;
    // Sets *bytes to 0 first; hands out the stage's own block for the port, valid until the
    // stage's next Put or Get. Processing happens in Get on port 0 (a processing stage that
    // cannot hold a block's whole output hands the rest out in the next Gets). Returns the byte
    // count.
    virtual int32_t Get(int32_t port, const void** block, int32_t* bytes) = 0;
};

} // namespace sigkit
