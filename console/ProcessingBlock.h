#pragma once

#include "LibraryBinding.h"
#include "Values.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace sigrun {

// The Failure() of a block of the library's export families: a data call refused its block.
inline constexpr int kBlockRefused = 1;

// A processing block of the library as a pass drives it: blocks of stored samples in, blocks of
// stored samples out. The library's block is freed by Release or when the object goes.
class ProcessingBlock
{
public:
    virtual ~ProcessingBlock() = default;
    // The output for one input block; out stays valid until the next call. A count of 0 means
    // nothing came out (out may then be left as it was).
    virtual void Process(const void* in, int32_t inBytes, const void*& out, int32_t& outBytes) = 0;
    virtual void Release() = 0;
    // Once Process could not process a block: the reason, a code of the block's own (0 while
    // none). The output of that call is what came before the failure; nothing more is processed.
    virtual int Failure() const { return 0; }
    // The first part of the next block's processing, on another thread than Process's, ahead of
    // the Process call for that block, which is then given its byte count and no bytes (see
    // sigkit_block_prepare). False when the block is not prepared: no later block may be then.
    virtual bool Prepare(const void* /*in*/, int32_t /*inBytes*/) { return false; }
};

// Builds a family's record from the settings and the input, and creates the library's block
// with the family's init. Null, with the reason in failure, when an export is missing or init
// refuses the record.
using BlockStarter = std::unique_ptr<ProcessingBlock> (*)(const FamilyExports& exports,
                                                          const Settings& settings,
                                                          const WavDescription& input,
                                                          std::string& failure);

// The starters of the three record shapes: BlockParams (resampl, lpflt, am_demod, fm_demod),
// IqParams (iq2real) and InvertParams (invert).
std::unique_ptr<ProcessingBlock> StartBlockFamily(const FamilyExports& exports,
                                                  const Settings& settings,
                                                  const WavDescription& input,
                                                  std::string& failure);
std::unique_ptr<ProcessingBlock> StartIqFamily(const FamilyExports& exports,
                                               const Settings& settings,
                                               const WavDescription& input, std::string& failure);
// The input bytes before a block on which the invert family's output for that block depends,
// when nothing else does: real integer input, whose Hilbert transformer (301 taps) looks back
// 300 samples (1024 are counted). 0 otherwise: on complex input the family keeps half a pair
// across blocks, and on float input how non-finite samples are met depends on the blocks' cuts.
std::size_t InvertMemoryBytes(const WavDescription& input);

std::unique_ptr<ProcessingBlock> StartInvertFamily(const FamilyExports& exports,
                                                   const Settings& settings,
                                                   const WavDescription& input,
                                                   std::string& failure);

} // namespace sigrun
