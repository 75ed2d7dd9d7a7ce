#pragma once

#include "interface/BlockHandle.h"

namespace sigkit {

// The configuration of each family: translates its record into parameters of the converter and
// the stage (names and values as texts, a few numbers written directly), and starts both. Texts
// that match none of their words do not fail: the value text keeps what it held, which selects
// each parameter's fallback. The handle's converter and stage exist before these run.
// Result: false for a record that can never produce output - a rate that is not positive, a gain
// that is not finite, a negative band, rates whose ratio the stage cannot take (its Start gives
// 0) - and then the handle is not to be used.
bool ConfigureAmDemod(BlockHandle& handle, const BlockParams& params);
bool ConfigureFmDemod(BlockHandle& handle, const BlockParams& params);
bool ConfigureResampl(BlockHandle& handle, const BlockParams& params);
bool ConfigureLpflt(BlockHandle& handle, const BlockParams& params);
bool ConfigureIq2Real(IqHandle& handle, const IqParams& params);
bool ConfigureInvert(InvertHandle& handle, const InvertParams& params);

} // namespace sigkit
