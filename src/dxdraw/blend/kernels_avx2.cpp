// The paired blend kernels for AVX2: eight pixels per step in 256-bit
// registers, the end of a row in 128-bit ones; bit-identical to the per-pixel
// kernels. This file alone is compiled with AVX2 enabled and is reached only
// through kAvx2Kernels after the processor check of kernel_select.cpp, so
// nothing here may run before that check: no static constructors, and
// everything except the table has internal linkage.
#include "dxdraw/blend.h"
#include "dxdraw/blend/kernels.h"

#if defined(__x86_64__) || defined(_M_X64)

#include <immintrin.h>

#include <cstdint>
#include <cstring>

namespace DxDraw {

namespace {

#include "dxdraw/blend/vector_sse2.inl"

struct Avx2Ops {
    using R = __m256i;
    static R Zero() { return _mm256_setzero_si256(); }
    static R Set8(std::int32_t v) { return _mm256_set1_epi8(static_cast<char>(v)); }
    static R Set16(std::int32_t v) { return _mm256_set1_epi16(static_cast<short>(v)); }
    static R Set32(std::uint32_t v) { return _mm256_set1_epi32(static_cast<int>(v)); }
    static R And(R a, R b) { return _mm256_and_si256(a, b); }
    static R Or(R a, R b) { return _mm256_or_si256(a, b); }
    static R Xor(R a, R b) { return _mm256_xor_si256(a, b); }
    static R Not(R a) { return _mm256_xor_si256(a, _mm256_set1_epi32(-1)); }
    static R Add16(R a, R b) { return _mm256_add_epi16(a, b); }
    static R Mullo16(R a, R b) { return _mm256_mullo_epi16(a, b); }
    static R Mulhi16(R a, R b) { return _mm256_mulhi_epu16(a, b); }
    template <int N> static R Srli16(R a) { return _mm256_srli_epi16(a, N); }
    static R AddsU8(R a, R b) { return _mm256_adds_epu8(a, b); }
    static R SubsU8(R a, R b) { return _mm256_subs_epu8(a, b); }
    // Unpacking and packing work inside each 128-bit half, so pixels 0, 1, 4, 5
    // are in the low register and 2, 3, 6, 7 in the high one, and packing puts
    // them back in order: no lane crossing is needed.
    static R UnpackLo8(R a, R b) { return _mm256_unpacklo_epi8(a, b); }
    static R UnpackHi8(R a, R b) { return _mm256_unpackhi_epi8(a, b); }
    static R Pack16(R a, R b) { return _mm256_packus_epi16(a, b); }
    template <int K> static R Spread(R a)
    {
        // One byte shuffle: lane K of each pixel (bytes 2K and 2K + 1) to all four lanes.
        constexpr char lo = static_cast<char>(2 * K);
        constexpr char hi = static_cast<char>(2 * K + 1);
        const R control
            = _mm256_setr_epi8(lo, hi, lo, hi, lo, hi, lo, hi, lo + 8, hi + 8, lo + 8, hi + 8, lo + 8, hi + 8, lo + 8,
                hi + 8, lo, hi, lo, hi, lo, hi, lo, hi, lo + 8, hi + 8, lo + 8, hi + 8, lo + 8, hi + 8, lo + 8, hi + 8);
        return _mm256_shuffle_epi8(a, control);
    }
    static R SelectT(R colour, R t)
    {
        return _mm256_blendv_epi8(colour, t, _mm256_set1_epi32(static_cast<int>(0xFF000000u)));
    }
};

struct Avx2Pixels {
    using Ops = Avx2Ops;
    static constexpr int kPixels = 8;
    static constexpr int kHalves = 2;
    static __m256i Load(const std::uint8_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
    static void Store(std::uint8_t* p, __m256i v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }
};

struct Avx2Plan {
    using Wide = Avx2Pixels;
    template <int N> using Narrow = Sse2Pixels<N>;
    using NarrowOps = Sse2Ops;
};

#include "dxdraw/blend/kernels_paired.inl"

} // namespace

constinit const KernelTable kAvx2Kernels = MakeTable<Avx2Plan>();

} // namespace DxDraw

#endif
