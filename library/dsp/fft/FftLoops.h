#pragma once

// The loops of every FFT variant, written once over a "lanes" type that says how to load, store,
// add, subtract and multiply W floats side by side (W = 1 for the scalar variant). Lane j of a
// vector only ever meets lane j of another in arithmetic, and every lane runs the scalar
// formulas of FftKernels.h, so the variants agree bit for bit; the lane types differ only in
// how data move between memory and registers.
//
// Only the variant files include this header, each compiling it with its own instruction set:
// everything here has internal linkage, so no copy built for one instruction set can stand in
// for another's at link time.
#include "dsp/fft/FftKernels.h"

#include <cstdint>

namespace sigkit::fft {
namespace {

// One float at a time: the reference, and the fallback of the vector variants for the sizes
// below one register.
struct ScalarLanes
{
    using T = float;
    static constexpr int32_t kWidth = 1;
    static T Load(const float* p) { return *p; }
    static void Store(float* p, T v) { *p = v; }
    static T Broadcast(float x) { return x; }
    static T Add(T a, T b) { return a + b; }
    static T Sub(T a, T b) { return a - b; }
    static T Mul(T a, T b) { return a * b; }
    static T Reverse(T v) { return v; }
    static void Spread1(const T (&y)[4], float* out)
    {
        for (int32_t k = 0; k < 4; ++k)
            out[k] = y[k];
    }
    static void Spread4(const T (&)[4], float*) {} // never called: stride 4 >= 1 lane
    static void Deinterleave(const float* x, T& even, T& odd)
    {
        even = x[0];
        odd = x[1];
    }
    static void Interleave(T even, T odd, float* x)
    {
        x[0] = even;
        x[1] = odd;
    }
};

template <class L> struct Outputs
{
    typename L::T r[4], i[4];
};

// The radix-4 butterfly without twiddles on values held:
//   y0 = (a + c) + (b + d), y1 = (a - c) - i(b - d), y2 = (a + c) - (b + d), y3 = (a - c) + i(b -
//   d).
template <class L>
inline void Dft4(typename L::T ar, typename L::T ai, typename L::T br, typename L::T bi,
                 typename L::T cr, typename L::T ci, typename L::T dr, typename L::T di,
                 Outputs<L>& y)
{
    using T = typename L::T;
    const T apcR = L::Add(ar, cr), apcI = L::Add(ai, ci);
    const T amcR = L::Sub(ar, cr), amcI = L::Sub(ai, ci);
    const T bpdR = L::Add(br, dr), bpdI = L::Add(bi, di);
    const T bmdR = L::Sub(br, dr), bmdI = L::Sub(bi, di);
    y.r[0] = L::Add(apcR, bpdR);
    y.i[0] = L::Add(apcI, bpdI);
    y.r[1] = L::Add(amcR, bmdI);
    y.i[1] = L::Sub(amcI, bmdR);
    y.r[2] = L::Sub(apcR, bpdR);
    y.i[2] = L::Sub(apcI, bpdI);
    y.r[3] = L::Sub(amcR, bmdI);
    y.i[3] = L::Add(amcI, bmdR);
}

// The radix-4 butterfly of elements e .. e + W - 1 (legs a quarter apart), with or without the
// twiddles w (w^p re, im, w^2p re, im, w^3p re, im) on outputs 1, 2, 3.
template <class L, bool kTwiddled>
inline void Butterfly(const float* xr, const float* xi, int32_t e, int32_t quarter,
                      const typename L::T (&w)[6], Outputs<L>& y)
{
    Dft4<L>(L::Load(xr + e), L::Load(xi + e), L::Load(xr + e + quarter), L::Load(xi + e + quarter),
            L::Load(xr + e + 2 * quarter), L::Load(xi + e + 2 * quarter),
            L::Load(xr + e + 3 * quarter), L::Load(xi + e + 3 * quarter), y);
    if constexpr (kTwiddled)
    {
        for (int32_t k = 1; k < 4; ++k)
        {
            const auto tr = y.r[k];
            const auto ti = y.i[k];
            y.r[k] = L::Sub(L::Mul(w[2 * k - 2], tr), L::Mul(w[2 * k - 1], ti));
            y.i[k] = L::Add(L::Mul(w[2 * k - 2], ti), L::Mul(w[2 * k - 1], tr));
        }
    }
}

// Outputs k of elements c .. c + W - 1 of one group go to out + c + stride·k.
template <class L>
inline void StoreLegs(const Outputs<L>& y, float* outR, float* outI, int32_t stride)
{
    for (int32_t k = 0; k < 4; ++k)
    {
        L::Store(outR + k * stride, y.r[k]);
        L::Store(outI + k * stride, y.i[k]);
    }
}

// The passes of stride 1 or 4 below one register: several groups in each register, twiddles
// element by element, and the four outputs of each group interleaved on the way out. The W
// elements from e land on the 4·W outputs from 4·e.
template <class L, int32_t kStride>
void SpreadLoop(const float* spread, int32_t quarter, const float* xr, const float* xi, float* yr,
                float* yi)
{
    typename L::T w[6];
    Outputs<L> y;
    for (int32_t e = 0; e < quarter; e += L::kWidth)
    {
        for (int32_t j = 0; j < 6; ++j)
            w[j] = L::Load(spread + j * quarter + e);
        Butterfly<L, true>(xr, xi, e, quarter, w, y);
        if constexpr (kStride == 1)
        {
            L::Spread1(y.r, yr + 4 * e);
            L::Spread1(y.i, yi + 4 * e);
        }
        else
        {
            L::Spread4(y.r, yr + 4 * e);
            L::Spread4(y.i, yi + 4 * e);
        }
    }
}

// Outputs k of elements c .. c + W - 1 times h at the indices they are stored at, c + stride·k,
// as MultiplyAt forms the products.
template <class L>
inline void Times(Outputs<L>& y, const float* hr, const float* hi, int32_t c, int32_t stride)
{
    for (int32_t k = 0; k < 4; ++k)
    {
        const auto br = L::Load(hr + c + k * stride), bi = L::Load(hi + c + k * stride);
        const auto ar = y.r[k], ai = y.i[k];
        y.r[k] = L::Sub(L::Mul(ar, br), L::Mul(ai, bi));
        y.i[k] = L::Add(L::Mul(ar, bi), L::Mul(ai, br));
    }
}

// A radix-4 pass (see Radix4Pass) with W lanes: needs size / 4 >= W.
template <class L>
void Radix4Loop(const Radix4Pass& pass, int32_t size, const float* xr, const float* xi,
                const float* hr, const float* hi, float* yr, float* yi)
{
    using T = typename L::T;
    constexpr int32_t W = L::kWidth;
    const int32_t quarter = size / 4;
    const int32_t s = pass.stride;
    const int32_t m = pass.groups;
    const float* twiddles = pass.twiddles;
    Outputs<L> y;
    T w[6] = {};
    if (m == 1)
    {
        // The last pass: one group, no twiddles; the products with h, if any.
        for (int32_t c = 0; c < s; c += W)
        {
            Butterfly<L, false>(xr, xi, c, quarter, w, y);
            if (hr != nullptr)
                Times<L>(y, hr, hi, c, s);
            StoreLegs<L>(y, yr + c, yi + c, s);
        }
    }
    else if (s >= W)
    {
        // Whole registers within one group: its twiddles broadcast.
        for (int32_t p = 0; p < m; ++p)
        {
            for (int32_t j = 0; j < 6; ++j)
                w[j] = L::Broadcast(twiddles[j * m + p]);
            float* outR = yr + 4 * s * p;
            float* outI = yi + 4 * s * p;
            for (int32_t c = 0; c < s; c += W)
            {
                Butterfly<L, true>(xr, xi, s * p + c, quarter, w, y);
                StoreLegs<L>(y, outR + c, outI + c, s);
            }
        }
    }
    else if (s == 1)
        SpreadLoop<L, 1>(pass.spread, quarter, xr, xi, yr, yi);
    else
        SpreadLoop<L, 4>(pass.spread, quarter, xr, xi, yr, yi);
}

// √½ rounded to float, the factor of the eighth-turn twiddles.
constexpr float kHalfSqrt2 = 0.70710678118654752f;

// The last radix-8 pass (see FftKernels::radix8) with W lanes: needs size / 8 >= W.
template <class L>
void Radix8Loop(int32_t size, const float* xr, const float* xi, const float* hr, const float* hi,
                float* yr, float* yi)
{
    const int32_t s = size / 8;
    const auto root = L::Broadcast(kHalfSqrt2);
    Outputs<L> e, o, lower, upper;
    for (int32_t c = 0; c < s; c += L::kWidth)
    {
        Dft4<L>(L::Load(xr + c), L::Load(xi + c), L::Load(xr + c + 2 * s), L::Load(xi + c + 2 * s),
                L::Load(xr + c + 4 * s), L::Load(xi + c + 4 * s), L::Load(xr + c + 6 * s),
                L::Load(xi + c + 6 * s), e);
        Dft4<L>(L::Load(xr + c + s), L::Load(xi + c + s), L::Load(xr + c + 3 * s),
                L::Load(xi + c + 3 * s), L::Load(xr + c + 5 * s), L::Load(xi + c + 5 * s),
                L::Load(xr + c + 7 * s), L::Load(xi + c + 7 * s), o);
        // o_k times e^(-2πik/8): o_0; ((or + oi)·r, (oi - or)·r); (oi, -or);
        // ((oi - or)·r, -(or + oi)·r), r = √½.
        const auto t1r = L::Mul(L::Add(o.r[1], o.i[1]), root);
        const auto t1i = L::Mul(L::Sub(o.i[1], o.r[1]), root);
        const auto u3 = L::Mul(L::Sub(o.i[3], o.r[3]), root);
        const auto v3 = L::Mul(L::Add(o.r[3], o.i[3]), root);
        lower.r[0] = L::Add(e.r[0], o.r[0]);
        lower.i[0] = L::Add(e.i[0], o.i[0]);
        upper.r[0] = L::Sub(e.r[0], o.r[0]);
        upper.i[0] = L::Sub(e.i[0], o.i[0]);
        lower.r[1] = L::Add(e.r[1], t1r);
        lower.i[1] = L::Add(e.i[1], t1i);
        upper.r[1] = L::Sub(e.r[1], t1r);
        upper.i[1] = L::Sub(e.i[1], t1i);
        lower.r[2] = L::Add(e.r[2], o.i[2]);
        lower.i[2] = L::Sub(e.i[2], o.r[2]);
        upper.r[2] = L::Sub(e.r[2], o.i[2]);
        upper.i[2] = L::Add(e.i[2], o.r[2]);
        lower.r[3] = L::Add(e.r[3], u3);
        lower.i[3] = L::Sub(e.i[3], v3);
        upper.r[3] = L::Sub(e.r[3], u3);
        upper.i[3] = L::Add(e.i[3], v3);
        if (hr != nullptr)
        {
            Times<L>(lower, hr, hi, c, s);
            Times<L>(upper, hr, hi, c + 4 * s, s);
        }
        StoreLegs<L>(lower, yr + c, yi + c, s);
        StoreLegs<L>(upper, yr + c + 4 * s, yi + c + 4 * s, s);
    }
}

// Element-wise complex products of elements i .. i + W - 1.
template <class L>
inline void MultiplyAt(const float* ar, const float* ai, const float* br, const float* bi,
                       int32_t i, float* yr, float* yi)
{
    const auto xr = L::Load(ar + i), xi = L::Load(ai + i);
    const auto vr = L::Load(br + i), vi = L::Load(bi + i);
    L::Store(yr + i, L::Sub(L::Mul(xr, vr), L::Mul(xi, vi)));
    L::Store(yi + i, L::Add(L::Mul(xr, vi), L::Mul(xi, vr)));
}

template <class L>
void MultiplyLoop(const float* ar, const float* ai, const float* br, const float* bi, int32_t n,
                  float* yr, float* yi)
{
    int32_t i = 0;
    for (; i + L::kWidth <= n; i += L::kWidth)
        MultiplyAt<L>(ar, ai, br, bi, i, yr, yi);
    for (; i < n; ++i)
        MultiplyAt<ScalarLanes>(ar, ai, br, bi, i, yr, yi);
}

// Bins k .. k + W - 1 of the real forward transform (0 < k, k + W <= half); their partners
// n - k come from one load, reversed.
template <class L>
inline void RealForwardAt(const float* zr, const float* zi, const float* wr, const float* wi,
                          int32_t half, int32_t k, float* re, float* im)
{
    const auto half5 = L::Broadcast(0.5f);
    const int32_t partner = half - k - (L::kWidth - 1);
    const auto ar = L::Load(zr + k), ai = L::Load(zi + k);
    const auto br = L::Reverse(L::Load(zr + partner)), bi = L::Reverse(L::Load(zi + partner));
    const auto er = L::Mul(half5, L::Add(ar, br));
    const auto ei = L::Mul(half5, L::Sub(ai, bi));
    const auto orr = L::Mul(half5, L::Add(ai, bi));
    const auto oi = L::Mul(half5, L::Sub(br, ar));
    const auto cr = L::Load(wr + k), ci = L::Load(wi + k);
    L::Store(re + k, L::Add(er, L::Sub(L::Mul(cr, orr), L::Mul(ci, oi))));
    L::Store(im + k, L::Add(ei, L::Add(L::Mul(cr, oi), L::Mul(ci, orr))));
}

template <class L>
void RealForwardLoop(const float* zr, const float* zi, const float* wr, const float* wi,
                     int32_t half, float* re, float* im)
{
    re[0] = zr[0] + zi[0];
    im[0] = 0.0f;
    re[half] = zr[0] - zi[0];
    im[half] = 0.0f;
    int32_t k = 1;
    for (; k + L::kWidth <= half; k += L::kWidth)
        RealForwardAt<L>(zr, zi, wr, wi, half, k, re, im);
    for (; k < half; ++k)
        RealForwardAt<ScalarLanes>(zr, zi, wr, wi, half, k, re, im);
}

template <class L>
inline void RealInverseAt(const float* re, const float* im, const float* wr, const float* wi,
                          int32_t half, int32_t k, float* zr, float* zi)
{
    const int32_t partner = half - k - (L::kWidth - 1);
    const auto xr = L::Load(re + k), xi = L::Load(im + k);
    const auto br = L::Reverse(L::Load(re + partner)), bi = L::Reverse(L::Load(im + partner));
    const auto er = L::Add(xr, br);
    const auto ei = L::Sub(xi, bi);
    const auto dr = L::Sub(xr, br);
    const auto di = L::Add(xi, bi);
    const auto cr = L::Load(wr + k), ci = L::Load(wi + k);
    const auto tr = L::Add(L::Mul(cr, dr), L::Mul(ci, di));
    const auto ti = L::Sub(L::Mul(cr, di), L::Mul(ci, dr));
    L::Store(zr + k, L::Sub(er, ti));
    L::Store(zi + k, L::Add(ei, tr));
}

template <class L>
void RealInverseLoop(const float* re, const float* im, const float* wr, const float* wi,
                     int32_t half, float* zr, float* zi)
{
    zr[0] = re[0] + re[half];
    zi[0] = re[0] - re[half];
    int32_t k = 1;
    for (; k + L::kWidth <= half; k += L::kWidth)
        RealInverseAt<L>(re, im, wr, wi, half, k, zr, zi);
    for (; k < half; ++k)
        RealInverseAt<ScalarLanes>(re, im, wr, wi, half, k, zr, zi);
}

template <class L> void DeinterleaveLoop(const float* x, int32_t pairs, float* even, float* odd)
{
    int32_t j = 0;
    for (; j + L::kWidth <= pairs; j += L::kWidth)
    {
        typename L::T e, o;
        L::Deinterleave(x + 2 * j, e, o);
        L::Store(even + j, e);
        L::Store(odd + j, o);
    }
    for (; j < pairs; ++j)
    {
        even[j] = x[2 * j];
        odd[j] = x[2 * j + 1];
    }
}

template <class L> void InterleaveLoop(const float* even, const float* odd, int32_t pairs, float* x)
{
    int32_t j = 0;
    for (; j + L::kWidth <= pairs; j += L::kWidth)
        L::Interleave(L::Load(even + j), L::Load(odd + j), x + 2 * j);
    for (; j < pairs; ++j)
    {
        x[2 * j] = even[j];
        x[2 * j + 1] = odd[j];
    }
}

// The table of a variant with lanes L; the passes too small for one register run one float at a
// time (the same formulas).
template <class L> FftKernels MakeTable(kernels::Isa isa, const char* name)
{
    FftKernels table{};
    table.isa = isa;
    table.name = name;
    table.radix4 = [](const Radix4Pass& pass, int32_t size, const float* xr, const float* xi,
                      const float* hr, const float* hi, float* yr, float* yi) {
        if (size / 4 >= L::kWidth)
            Radix4Loop<L>(pass, size, xr, xi, hr, hi, yr, yi);
        else
            Radix4Loop<ScalarLanes>(pass, size, xr, xi, hr, hi, yr, yi);
    };
    table.radix8 = [](int32_t size, const float* xr, const float* xi, const float* hr,
                      const float* hi, float* yr, float* yi) {
        if (size / 8 >= L::kWidth)
            Radix8Loop<L>(size, xr, xi, hr, hi, yr, yi);
        else
            Radix8Loop<ScalarLanes>(size, xr, xi, hr, hi, yr, yi);
    };
    table.multiply = MultiplyLoop<L>;
    table.realForward = RealForwardLoop<L>;
    table.realInverse = RealInverseLoop<L>;
    table.deinterleave = DeinterleaveLoop<L>;
    table.interleave = InterleaveLoop<L>;
    return table;
}

} // namespace
} // namespace sigkit::fft
