// The 128-bit vector operations of the paired kernels (SSE2), and the steps
// of 4, 2 and 1 pixels built on them. Included inside an unnamed namespace by
// kernels_sse2.cpp, which runs them as they are, and by kernels_avx2.cpp for
// the end of a row, where the compiler encodes them with VEX.

struct Sse2Ops {
    using R = __m128i;
    static R Zero() { return _mm_setzero_si128(); }
    static R Set8(std::int32_t v) { return _mm_set1_epi8(static_cast<char>(v)); }
    static R Set16(std::int32_t v) { return _mm_set1_epi16(static_cast<short>(v)); }
    static R Set32(std::uint32_t v) { return _mm_set1_epi32(static_cast<int>(v)); }
    static R And(R a, R b) { return _mm_and_si128(a, b); }
    static R Or(R a, R b) { return _mm_or_si128(a, b); }
    static R Xor(R a, R b) { return _mm_xor_si128(a, b); }
    static R Not(R a) { return _mm_xor_si128(a, _mm_set1_epi32(-1)); }
    static R Add16(R a, R b) { return _mm_add_epi16(a, b); }
    static R Mullo16(R a, R b) { return _mm_mullo_epi16(a, b); }
    static R Mulhi16(R a, R b) { return _mm_mulhi_epu16(a, b); }
    template <int N> static R Srli16(R a) { return _mm_srli_epi16(a, N); }
    static R AddsU8(R a, R b) { return _mm_adds_epu8(a, b); }
    static R SubsU8(R a, R b) { return _mm_subs_epu8(a, b); }
    static R UnpackLo8(R a, R b) { return _mm_unpacklo_epi8(a, b); }
    static R UnpackHi8(R a, R b) { return _mm_unpackhi_epi8(a, b); }
    static R Pack16(R a, R b) { return _mm_packus_epi16(a, b); }
    template <int K> static R Spread(R a) { return _mm_shufflehi_epi16(_mm_shufflelo_epi16(a, K * 0x55), K * 0x55); }
    static R SelectT(R colour, R t)
    {
        const R tMask = _mm_set1_epi32(static_cast<int>(0xFF000000u));
        return _mm_or_si128(_mm_andnot_si128(tMask, colour), _mm_and_si128(tMask, t));
    }
};

// Four, two or one pixels in one 128-bit register.
template <int N> struct Sse2Pixels {
    using Ops = Sse2Ops;
    static constexpr int kPixels = N;
    static constexpr int kHalves = N > 2 ? 2 : 1; // pixels 2 and 3 are in the high half once unpacked

    static __m128i Load(const std::uint8_t* p)
    {
        if constexpr (N == 4) {
            return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        } else if constexpr (N == 2) {
            return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
        } else {
            std::int32_t v;
            std::memcpy(&v, p, 4);
            return _mm_cvtsi32_si128(v);
        }
    }
    static void Store(std::uint8_t* p, __m128i v)
    {
        if constexpr (N == 4) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
        } else if constexpr (N == 2) {
            _mm_storel_epi64(reinterpret_cast<__m128i*>(p), v);
        } else {
            const std::int32_t bits = _mm_cvtsi128_si32(v);
            std::memcpy(p, &bits, 4);
        }
    }
};
