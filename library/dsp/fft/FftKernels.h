#pragma once

#include "stages/kernels/Kernels.h"

#include <cstdint>

// The inner loops of the transforms, as a portable scalar variant and as vector variants (AVX2,
// AVX-512). As with the dot products, every variant performs the same operations on the same
// values: each output element comes from the same butterfly, the same separate multiplies and
// adds in the same order, with the same twiddle factors (computed once in double precision and
// rounded to float). The vector variants only run several butterflies side by side, so a
// transform has the same bits on every processor.
//
// Complex data are held split: one array of real parts, one of imaginary parts.
namespace sigkit::fft {

// One radix-4 pass of a Stockham transform of `size` points (input and output in different
// arrays, both in natural order). With q = size / 4, element e = j + stride·p of each leg
// (0 <= j < stride, 0 <= p < groups) reads a = x[e], b = x[e + q], c = x[e + 2q], d = x[e + 3q]
// and writes y[j + stride·(4p + k)], k = 0..3:
//   k = 0: (a + c) + (b + d)
//   k = 1: w^p   · ((a - c) - i(b - d))
//   k = 2: w^2p  · ((a + c) - (b + d))
//   k = 3: w^3p  · ((a - c) + i(b - d))
// with w = e^(-2πi / (4·groups)); the products are (wr·tr - wi·ti, wr·ti + wi·tr). The last pass
// (groups == 1) multiplies by nothing.
struct Radix4Pass
{
    int32_t stride;        // elements that share one set of twiddles: 1, 4, 16, ...
    int32_t groups;        // size / (4·stride)
    const float* twiddles; // groups each: w^p re, im, w^2p re, im, w^3p re, im; null if groups 1
    const float* spread;   // the same, size/4 each, entry e holding group e / stride's values;
                           // only for stride < kSpreadStrides, else null
};

// Strides below this have their twiddles spread element by element too (the vector variants
// then run several groups in one register).
inline constexpr int32_t kSpreadStrides = 16;

struct FftKernels
{
    kernels::Isa isa;
    const char* name; // "scalar", "avx2", "avx512"

    // One radix-4 pass as above; size >= 4. When hr is not null (only for the last pass, one
    // group), each output y[j] is multiplied by (hr[j], hi[j]) before it is stored, exactly as
    // `multiply` would multiply it afterwards (y as a, h as b).
    void (*radix4)(const Radix4Pass& pass, int32_t size, const float* xr, const float* xi,
                   const float* hr, const float* hi, float* yr, float* yi);
    // The last pass of the odd powers of two, radix 8 without twiddles between passes: with
    // s = size / 8 and legs x_j = x[c + j·s], the radix-4 butterflies above (no twiddles) give
    // e = DFT4(x_0, x_2, x_4, x_6) and o = DFT4(x_1, x_3, x_5, x_7); with r = √½ in float,
    //   t_0 = o_0,  t_1 = ((or + oi)·r, (oi - or)·r),  t_2 = (oi, -or),
    //   t_3 = ((oi - or)·r, -(or + oi)·r)    (o_k times e^(-2πik/8), of o_1, o_2, o_3),
    //   y[c + k·s] = e_k + t_k,  y[c + (k + 4)·s] = e_k - t_k,
    // each sum with a negated part written as the difference; size >= 8. hr, hi as for radix4.
    void (*radix8)(int32_t size, const float* xr, const float* xi, const float* hr, const float* hi,
                   float* yr, float* yi);
    // Element-wise products y = a·b: yr = ar·br - ai·bi, yi = ar·bi + ai·br. y may be a or b.
    void (*multiply)(const float* ar, const float* ai, const float* br, const float* bi, int32_t n,
                     float* yr, float* yi);

    // From the transform Z of n = half points of z[j] = x[2j] + i·x[2j+1] to the spectrum X of the
    // 2n real points x, bins 0..n, with W^k = e^(-πik/n) in (wr[k], wi[k]): for 0 < k < n, with
    // (yr, yi) = Z[n - k],
    //   er = 0.5·(zr + yr), ei = 0.5·(zi - yi), or = 0.5·(zi + yi), oi = 0.5·(yr - zr),
    //   X[k] = (er + (wr·or - wi·oi), ei + (wr·oi + wi·or));
    // X[0] = Z[0].re + Z[0].im, X[n] = Z[0].re - Z[0].im, both with imaginary part 0.
    void (*realForward)(const float* zr, const float* zi, const float* wr, const float* wi,
                        int32_t half, float* re, float* im);
    // The way back, for bins 0..n of a real signal's spectrum: for 0 < k < n, with
    // (br, bi) = X[n - k],
    //   er = xr + br, ei = xi - bi, dr = xr - br, di = xi + bi,
    //   tr = wr·dr + wi·di, ti = wr·di - wi·dr,  Z[k] = (er - ti, ei + tr);
    // Z[0] = (X[0].re + X[n].re, X[0].re - X[n].re) (the imaginary parts of bins 0 and n are
    // taken as 0). The inverse transform of Z then holds 2·n·(x[2j] + i·x[2j+1]).
    void (*realInverse)(const float* re, const float* im, const float* wr, const float* wi,
                        int32_t half, float* zr, float* zi);
    // even[j] = x[2j], odd[j] = x[2j + 1], j < pairs; and back.
    void (*deinterleave)(const float* x, int32_t pairs, float* even, float* odd);
    void (*interleave)(const float* even, const float* odd, int32_t pairs, float* x);
};

// The variant the transforms use, chosen once at first use: the one SIGKIT_ISA forces (see
// kernels::Active), else where the processor has both AVX-512 and AVX2 the faster of the two for
// a transform (measured; see kernels::Automatic), else the kernel table's.
const FftKernels& Active();
// The table of one variant, or nullptr when this processor cannot run it (tests compare them).
const FftKernels* TableFor(kernels::Isa isa);

} // namespace sigkit::fft
