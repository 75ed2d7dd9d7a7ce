#include "api/KindTable.h"

namespace sigkit::api {

namespace {

// Adding a kind: its adapter's factory in its row (and the kind's number in sigkit_api.h).
constexpr KindRow kKinds[] = {
    {SIGKIT_KIND_IQ2R, "iq2r", MakeOriginal},
    {SIGKIT_KIND_RESAMPLE, "resample", MakeOriginal},
    {SIGKIT_KIND_CONVERT, "convert", MakeOriginal},
    {SIGKIT_KIND_INVERT, "invert", MakeOriginal},
    {SIGKIT_KIND_AM_CLASSIC, "am-classic", MakeOriginal},
    {SIGKIT_KIND_FM_CLASSIC, "fm-classic", MakeOriginal},
    {SIGKIT_KIND_RATE, "rate", MakeChainKind},
    {SIGKIT_KIND_CHANNEL, "channel", MakeChainKind},
    {SIGKIT_KIND_AM, "am", MakeChainKind},
    {SIGKIT_KIND_FM, "fm", MakeChainKind},
    {SIGKIT_KIND_WFM, "wfm", MakeChainKind},
    {SIGKIT_KIND_USB, "usb", MakeChainKind},
    {SIGKIT_KIND_LSB, "lsb", MakeChainKind},
    {SIGKIT_KIND_CW, "cw", MakeChainKind},
    {SIGKIT_KIND_SPECTRUM, "spectrum", nullptr},
};

} // namespace

const KindRow* FindKind(int kind)
{
    for (const KindRow& row : kKinds)
        if (row.kind == kind)
            return &row;
    return nullptr;
}

} // namespace sigkit::api
