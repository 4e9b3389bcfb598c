// The paired blend kernels for SSE2, which every x86-64 processor has: four
// pixels per step in 128-bit registers, bit-identical to the per-pixel
// kernels. The kernels themselves are in kernels_paired.inl.
#include "dxdraw/blend.h"
#include "dxdraw/blend/kernels.h"

#if defined(__x86_64__) || defined(_M_X64)

#include <emmintrin.h>

#include <cstdint>
#include <cstring>

namespace DxDraw {

namespace {

#include "dxdraw/blend/vector_sse2.inl"

struct Sse2Plan {
    using Wide = Sse2Pixels<4>;
    template <int N> using Narrow = Sse2Pixels<N>;
    using NarrowOps = Sse2Ops;
};

#include "dxdraw/blend/kernels_paired.inl"

} // namespace

constinit const KernelTable kSse2Kernels = MakeTable<Sse2Plan>();

} // namespace DxDraw

#endif
