#pragma once

#include "api/Processor.h"

namespace sigkit::api {

// One row per processing kind: its number, its short name and the factory of its adapter
// (null until the kind is available).
struct KindRow
{
    int kind;
    const char* name;
    Factory make;
};

// The row of a kind, or nullptr for a number that is no kind.
const KindRow* FindKind(int kind);

// The factories of the kind families, each in its adapter file.
int MakeOriginal(const sigkit_config& config, std::unique_ptr<Processor>& made);
// RATE, CHANNEL and the receivers AM .. CW: the chains (ChainKinds.cpp).
int MakeChainKind(const sigkit_config& config, std::unique_ptr<Processor>& made);

} // namespace sigkit::api
