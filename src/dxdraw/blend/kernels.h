// What the kernel sets share (internal to dxdraw): the level ranges, the
// per-call preparation of the level, and the kernel tables of each set.
//
// This header is also included by the file compiled for AVX2, so everything
// defined here has internal linkage: an out-of-line copy built with AVX2
// instructions must never be picked by the linker for code that runs on a
// processor without them.
#pragma once

#include "dxdraw/blend.h"

#include <cstdint>

namespace DxDraw {

// Levels and their ranges. A level outside the range of its operation is
// clamped to the nearest end before anything else happens, in every set, so
// no table is ever indexed outside its bounds:
//   brightness (1) and opacity (2): 0 ... 512 (opacity above 256 is brightness);
//   add, subtract, exclusive-or, destination alpha (3, 4, 10, 11): 0 ... 256;
//   rule transition (5): 0 ... 511 (clamping there changes no result, since
//     the weight clamp(m + L - 256, 0, 255) is already 0 below 0 and 255
//     above 511);
//   copy (0): the level is not used.
inline constexpr std::int32_t kLevelFull = 256;
inline constexpr std::int32_t kLevelBrightest = 512;
inline constexpr std::int32_t kLevelRuleEnd = 511;

static constexpr std::int32_t ClampLevel(std::int32_t level, std::int32_t high)
{
    return level < 0 ? 0 : level > high ? high : level;
}

// The level of one call, prepared once for all pixels.
struct KernelLevels {
    std::int32_t level = 0; // clamped to the operation's range
    std::int32_t brightLevel = 0; // brightness: B(v) = S(v, brightLevel) + brightAdd
    std::int32_t brightAdd = 0;
    std::int32_t ruleAdd = 0; // rule transition, for the paired form:
    std::int32_t ruleSub = 0; //   clamp(m + L - 256, 0, 255) = max(0, min(255, m + ruleAdd) - ruleSub)
};

static constexpr KernelLevels PrepareLevels(int operation, std::int32_t rawLevel)
{
    KernelLevels out;
    switch (operation) {
    case kOpBrightness:
    case kOpOpacity:
        out.level = ClampLevel(rawLevel, kLevelBrightest);
        break;
    case kOpRule:
        out.level = ClampLevel(rawLevel, kLevelRuleEnd);
        break;
    default:
        out.level = ClampLevel(rawLevel, kLevelFull);
        break;
    }
    // B(v) = S(v, L) for L <= 256; S(v, 256 - k) + S(255, k) with k = L - 256 above.
    if (out.level <= kLevelFull) {
        out.brightLevel = out.level;
        out.brightAdd = 0;
    } else {
        const std::int32_t k = out.level - kLevelFull;
        out.brightLevel = kLevelFull - k;
        out.brightAdd = 255 * k / 256;
    }
    // One of the two is zero; a level of 0 subtracts 255, which leaves 0 for every m.
    out.ruleAdd = out.level > kLevelFull ? out.level - kLevelFull : 0;
    out.ruleSub = out.level < kLevelFull ? (kLevelFull - out.level > 255 ? 255 : kLevelFull - out.level) : 0;
    return out;
}

// Destination and source pitches are rounded toward zero to whole pixels.
static constexpr std::int32_t PixelPitch(std::int32_t pitch)
{
    return pitch / 4 * 4;
}

// The colour mask of flag 0x40000 never touches the transparency byte.
static constexpr std::uint32_t MaskColour(std::uint32_t colour)
{
    return colour | 0xFF000000u;
}

// A kernel table: one entry per mode byte, null where the mode has no kernel.
struct KernelTable {
    BlendKernel entries[kModeCount];
};

extern const KernelTable kPerPixelKernels;
#if defined(__x86_64__) || defined(_M_X64)
#define KESTREL_HAVE_PAIRED_KERNELS 1
extern const KernelTable kSse2Kernels;
extern const KernelTable kAvx2Kernels;
#endif

} // namespace DxDraw
