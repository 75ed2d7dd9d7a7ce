#pragma once

#include "interface/BlockHandle.h"

namespace sigkit {

// The configuration of each family: translates its record into parameters of the converter and
// the stage (names and values as texts, a few numbers written directly), and starts both. Texts
// that match none of their words do not fail: the value text keeps what it held, which selects
// each parameter's fallback. The handle's converter and stage exist before these run.
void ConfigureAmDemod(BlockHandle& handle, const BlockParams& params);
void ConfigureFmDemod(BlockHandle& handle, const BlockParams& params);
void ConfigureResampl(BlockHandle& handle, const BlockParams& params);
void ConfigureLpflt(BlockHandle& handle, const BlockParams& params);
void ConfigureIq2Real(IqHandle& handle, const IqParams& params);
void ConfigureInvert(InvertHandle& handle, const InvertParams& params);

} // namespace sigkit
