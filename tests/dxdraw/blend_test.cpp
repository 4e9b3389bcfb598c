// The blend kernels: the per-pixel kernels against the formulas of each
// operation, rule and flag combination, and every paired kernel set against
// the per-pixel kernels, byte for byte, on seeded random pictures.
#include "dxdraw/blend.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace DxDraw;

constexpr std::uint32_t kSourceAlpha = kBlendSourceAlpha;
constexpr std::uint32_t kColourMask = kBlendColourMask;
constexpr std::array<std::uint32_t, 4> kFlagCombinations = { 0, kSourceAlpha, kColourMask, kSourceAlpha | kColourMask };
constexpr std::array<int, 8> kOperations
    = { kOpCopy, kOpBrightness, kOpOpacity, kOpAdd, kOpSubtract, kOpRule, kOpXor, kOpDestinationAlpha };

struct Pixel {
    std::uint8_t b = 0, g = 0, r = 0, t = 0;
    bool operator==(const Pixel&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Pixel& p)
{
    return out << "(B " << int(p.b) << ", G " << int(p.g) << ", R " << int(p.r) << ", T " << int(p.t) << ")";
}

std::string ModeText(std::uint32_t mode, std::uint32_t flags, int level)
{
    std::ostringstream out;
    out << "mode " << mode << " (op " << (mode & 15) << ", rule " << (mode >> 4) << ")"
        << ((flags & kSourceAlpha) ? " +source-alpha" : "") << ((flags & kColourMask) ? " +colour-mask" : "")
        << " level " << level;
    return out.str();
}

// Runs one kernel on a single pixel.
Pixel Run(BlendKernel kernel, const BlendParams& params, Pixel src, Pixel dst, std::uint8_t maskBlue = 0)
{
    std::uint8_t s[4] = { src.b, src.g, src.r, src.t };
    std::uint8_t d[4] = { dst.b, dst.g, dst.r, dst.t };
    const std::uint8_t m[4] = { maskBlue, 0x11, 0x22, 0x33 };
    kernel(d, s, (params.flags & kBlendOperationMask) == kOpRule ? m : nullptr, 1, &params, 4, 4, 4, 1);
    return { d[0], d[1], d[2], d[3] };
}

// Runs the per-pixel kernel of the mode, and checks on the way that every
// paired set gives the same pixel (on two equal pixels side by side).
Pixel RunMode(std::uint32_t mode, std::uint32_t flags, int level, std::uint32_t colour, Pixel src, Pixel dst,
    std::uint8_t maskBlue = 0)
{
    BlendParams params;
    params.flags = mode | flags;
    params.level = static_cast<std::int16_t>(level);
    // As Blt prepares it: top byte 0xFF, all ones without the colour mask.
    params.colour = (flags & kColourMask) ? (colour | 0xFF000000u) : 0xFFFFFFFFu;
    const BlendKernel kernel = PerPixelKernel(mode);
    EXPECT_NE(kernel, nullptr) << ModeText(mode, flags, level);
    if (kernel == nullptr)
        return {};
    const Pixel result = Run(kernel, params, src, dst, maskBlue);
    for (KernelSet set : { KernelSet::Sse2, KernelSet::Avx2 }) {
        const BlendKernel paired = KernelOf(set, mode);
        if (paired == nullptr)
            continue;
        std::uint8_t s[8] = { src.b, src.g, src.r, src.t, src.b, src.g, src.r, src.t };
        std::uint8_t d[8] = { dst.b, dst.g, dst.r, dst.t, dst.b, dst.g, dst.r, dst.t };
        const std::uint8_t m[8] = { maskBlue, 0, 0, 0, maskBlue, 0, 0, 0 };
        paired(d, s, (mode & 15) == kOpRule ? m : nullptr, 2, &params, 8, 8, 8, 1);
        const Pixel first { d[0], d[1], d[2], d[3] };
        const Pixel second { d[4], d[5], d[6], d[7] };
        EXPECT_EQ(first, result) << KernelSetName(set) << " " << ModeText(mode, flags, level);
        EXPECT_EQ(second, result) << KernelSetName(set) << " " << ModeText(mode, flags, level);
    }
    return result;
}

Pixel Grey(std::uint8_t v, std::uint8_t t)
{
    return { v, v, v, t };
}

// --- The formulas, written out directly, independent of the kernels' tables.

int M(int v, int k)
{
    return v * k / 255;
}

int S(int v, int level)
{
    return v * level / 256;
}

int BlendOf(int s, int d, int w)
{
    return M(s, w) + M(d, 255 - w);
}

int Clamp(int v, int low, int high)
{
    return v < low ? low : v > high ? high : v;
}

int Brightness(int v, int level)
{
    if (level <= 256)
        return S(v, level);
    const int k = level - 256;
    return S(v, 256 - k) + S(255, k);
}

int FormulaChannel(int op, bool sourceAlpha, int level, int s, int d, int a, int ad, int m)
{
    switch (op) {
    case kOpCopy:
        return sourceAlpha ? BlendOf(s, d, a) : s;
    case kOpBrightness:
        return sourceAlpha ? BlendOf(Brightness(s, level), d, a) : Brightness(s, level);
    case kOpOpacity:
        if (level > 256)
            return FormulaChannel(kOpBrightness, sourceAlpha, level, s, d, a, ad, m);
        return sourceAlpha ? BlendOf(s, d, S(a, level)) : S(s, level) + S(d, 256 - level);
    case kOpAdd:
        return std::min(255, d + (sourceAlpha ? M(S(s, level), a) : S(s, level)));
    case kOpSubtract:
        return std::max(0, d - (sourceAlpha ? M(S(s, level), a) : S(s, level)));
    case kOpRule: {
        const int w = Clamp(m + level - 256, 0, 255);
        return BlendOf(s, d, sourceAlpha ? M(w, a) : w);
    }
    case kOpXor:
        return d ^ (sourceAlpha ? M(S(s, level), a) : S(s, level));
    case kOpDestinationAlpha:
        return BlendOf(s, d, sourceAlpha ? S(M(a, ad), level) : S(ad, level));
    }
    return -1;
}

Pixel Formula(std::uint32_t mode, std::uint32_t flags, int level, std::uint32_t colour, Pixel src, Pixel dst, int m)
{
    const int op = static_cast<int>(mode & 15);
    const int rule = static_cast<int>(mode >> 4);
    const bool sourceAlpha = (flags & kSourceAlpha) != 0;
    const std::uint32_t and_ = (flags & kColourMask) ? colour : 0xFFFFFFu;
    const int a = 255 - src.t;
    const int ad = 255 - dst.t;
    auto channel = [&](std::uint8_t s, std::uint8_t d, int shift) {
        const int masked = s & static_cast<int>((and_ >> shift) & 0xFF);
        return static_cast<std::uint8_t>(FormulaChannel(op, sourceAlpha, level, masked, d, a, ad, m));
    };
    Pixel out { channel(src.b, dst.b, 0), channel(src.g, dst.g, 8), channel(src.r, dst.r, 16), dst.t };
    if (op != kOpDestinationAlpha) {
        switch (rule) {
        case kRuleCopySource:
            out.t = src.t;
            break;
        case kRuleAddAlpha:
            out.t = static_cast<std::uint8_t>(255 - std::min(255, a + ad));
            break;
        case kRuleSubAlpha:
            out.t = static_cast<std::uint8_t>(255 - std::max(0, ad - a));
            break;
        default:
            break;
        }
    }
    return out;
}

std::vector<int> LevelsOf(int op)
{
    switch (op) {
    case kOpBrightness:
    case kOpOpacity:
        return { 0, 1, 128, 255, 256, 257, 384, 511, 512 };
    case kOpRule:
        return { 0, 1, 128, 255, 256, 257, 384, 510, 511 };
    case kOpCopy:
        return { 0 };
    default:
        return { 0, 1, 128, 255, 256 };
    }
}

std::vector<std::uint32_t> ModesWithKernels()
{
    std::vector<std::uint32_t> modes;
    for (std::uint32_t mode = 0; mode < kModeCount; ++mode) {
        if (PerPixelKernel(mode) != nullptr)
            modes.push_back(mode);
    }
    return modes;
}

// --- The kernel tables.

TEST(BlendKernels, EveryOperationHasAKernelForEveryRule)
{
    for (int op : kOperations) {
        for (int rule = 0; rule < 4; ++rule)
            EXPECT_NE(PerPixelKernel(static_cast<std::uint32_t>(op + 16 * rule)), nullptr) << op << " " << rule;
    }
    EXPECT_EQ(ModesWithKernels().size(), 32u);
}

TEST(BlendKernels, ModesWithoutKernelsGiveNull)
{
    for (std::uint32_t mode : { 6u, 7u, 8u, 9u, 12u, 13u, 14u, 15u, 22u, 38u, 63u, 64u, 65u, 255u, 0x10000u }) {
        EXPECT_EQ(PerPixelKernel(mode), nullptr) << mode;
        EXPECT_EQ(PairedKernel(mode), nullptr) << mode;
        for (KernelSet set : { KernelSet::PerPixel, KernelSet::Sse2, KernelSet::Avx2 })
            EXPECT_EQ(KernelOf(set, mode), nullptr) << mode;
    }
}

TEST(BlendKernels, DestinationAlphaSharesOneKernelForAllRules)
{
    for (KernelSet set : { KernelSet::PerPixel, KernelSet::Sse2, KernelSet::Avx2 }) {
        if (!KernelSetSupported(set))
            continue;
        const BlendKernel first = KernelOf(set, kOpDestinationAlpha);
        ASSERT_NE(first, nullptr);
        for (std::uint32_t rule = 1; rule < 4; ++rule)
            EXPECT_EQ(KernelOf(set, kOpDestinationAlpha + 16 * rule), first);
    }
}

TEST(BlendKernels, SetsAndSwitches)
{
    EXPECT_EQ(KernelSetName(KernelSet::PerPixel), "per-pixel");
    EXPECT_EQ(KernelSetName(KernelSet::Sse2), "SSE2");
    EXPECT_EQ(KernelSetName(KernelSet::Avx2), "AVX2");
    EXPECT_TRUE(KernelSetSupported(KernelSet::PerPixel));
    EXPECT_EQ(KernelOf(KernelSet::PerPixel, 0), PerPixelKernel(0));
    if (KernelSetSupported(KernelSet::Avx2)) {
        EXPECT_TRUE(KernelSetSupported(KernelSet::Sse2));
    }

    ForcePerPixelKernels(true);
    EXPECT_EQ(ActiveKernelSet(), KernelSet::PerPixel);
    EXPECT_EQ(PairedKernel(0), nullptr);
    ForcePerPixelKernels(false);
    const KernelSet active = ActiveKernelSet();
    EXPECT_TRUE(KernelSetSupported(active));
    if (active != KernelSet::PerPixel) {
        EXPECT_EQ(PairedKernel(kOpAdd + 16), KernelOf(active, kOpAdd + 16));
    } else {
        EXPECT_EQ(PairedKernel(kOpAdd + 16), nullptr);
    }
}

// --- The fixed tables.

TEST(BlendTables, MultiplyAndScaleMatchTheirDefinitions)
{
    for (int v = 0; v < 256; ++v) {
        for (int k = 0; k < 256; ++k)
            ASSERT_EQ(TableM(static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(k)), v * k / 255) << v << " " << k;
        for (int level = 0; level <= 256; ++level)
            ASSERT_EQ(TableS(static_cast<std::uint8_t>(v), level), v * level / 256) << v << " " << level;
    }
    EXPECT_EQ(TableM(255, 255), 255);
    EXPECT_EQ(TableM(254, 255), 254);
    EXPECT_EQ(TableS(255, 256), 255);
    EXPECT_EQ(TableS(200, 128), 100);
}

TEST(BlendTables, ScaleClampsTheLevel)
{
    EXPECT_EQ(TableS(200, -1), 0);
    EXPECT_EQ(TableS(200, -32768), 0);
    EXPECT_EQ(TableS(200, 257), 200);
    EXPECT_EQ(TableS(200, 32767), 200);
}

// --- The formulas: every operation, rule and flag combination at the end
// points and in the middle, against the formulas written out above.

TEST(BlendFormulas, EveryModeAndFlagCombinationFollowsItsFormula)
{
    const std::array<Pixel, 3> sources
        = { Pixel { 0, 128, 255, 0 }, Pixel { 255, 77, 0, 0 }, Pixel { 200, 1, 254, 0 } };
    const std::array<Pixel, 3> destinations
        = { Pixel { 200, 128, 0, 0 }, Pixel { 0, 200, 255, 0 }, Pixel { 255, 255, 3, 0 } };
    const std::array<std::uint8_t, 3> transparencies = { 0, 100, 255 };
    const std::array<std::uint8_t, 3> masks = { 0, 128, 255 };
    const std::array<std::uint32_t, 2> colours = { 0xFFFFFF, 0x80F00F };
    int cases = 0;
    for (std::uint32_t mode : ModesWithKernels()) {
        const int op = static_cast<int>(mode & 15);
        for (std::uint32_t flags : kFlagCombinations) {
            for (int level : LevelsOf(op)) {
                for (std::size_t i = 0; i < sources.size(); ++i) {
                    for (std::uint8_t ts : transparencies) {
                        for (std::uint8_t td : transparencies) {
                            for (std::uint8_t m : masks) {
                                if (op != kOpRule && m != 0)
                                    continue;
                                for (std::uint32_t colour : colours) {
                                    if (!(flags & kColourMask) && colour != 0xFFFFFF)
                                        continue;
                                    Pixel src = sources[i];
                                    Pixel dst = destinations[i];
                                    src.t = ts;
                                    dst.t = td;
                                    const Pixel expected = Formula(mode, flags, level, colour, src, dst, m);
                                    ASSERT_EQ(RunMode(mode, flags, level, colour, src, dst, m), expected)
                                        << ModeText(mode, flags, level) << " colour " << std::hex << colour << std::dec
                                        << " source " << src << " destination " << dst << " mask " << int(m);
                                    ++cases;
                                }
                            }
                        }
                    }
                }
            }
        }
    }
    EXPECT_GT(cases, 10000);
}

// --- The edge cases, by hand.

TEST(BlendEdgeCases, PlainCopyIsBitExact)
{
    const Pixel src { 12, 34, 56, 78 };
    EXPECT_EQ(RunMode(0, 0, 0, 0, src, Pixel { 1, 2, 3, 4 }), src);
    // Several rows and a wide row, transparency bytes included.
    std::vector<std::uint8_t> s(4 * 37 * 3), d(4 * 37 * 3, 0xEE);
    for (std::size_t i = 0; i < s.size(); ++i)
        s[i] = static_cast<std::uint8_t>(i * 7 + 3);
    BlendParams params;
    PerPixelKernel(0)(d.data(), s.data(), nullptr, 37, &params, 4 * 37, 4 * 37, 0, 3);
    EXPECT_EQ(d, s);
}

TEST(BlendEdgeCases, NullParametersAreAllZeros)
{
    std::uint8_t s[4] = { 9, 8, 7, 6 };
    std::uint8_t d[4] = { 0, 0, 0, 0 };
    PerPixelKernel(0)(d, s, nullptr, 1, nullptr, 4, 4, 4, 1);
    EXPECT_EQ(std::memcmp(d, s, 4), 0);
}

TEST(BlendEdgeCases, CopyWithSourceAlphaAtTheEnds)
{
    const Pixel dst { 10, 20, 30, 40 };
    // Opaque source: replaces the destination colour exactly; rule 0 copies T.
    EXPECT_EQ(RunMode(0, kSourceAlpha, 0, 0, Pixel { 200, 150, 100, 0 }, dst), (Pixel { 200, 150, 100, 0 }));
    // Fully transparent source: the destination colour stays; rule 0 still copies T.
    EXPECT_EQ(RunMode(0, kSourceAlpha, 0, 0, Pixel { 200, 150, 100, 255 }, dst), (Pixel { 10, 20, 30, 255 }));
    // Rule 3 keeps the destination's T.
    EXPECT_EQ(RunMode(48, kSourceAlpha, 0, 0, Pixel { 200, 150, 100, 0 }, dst), (Pixel { 200, 150, 100, 40 }));
}

TEST(BlendEdgeCases, BrightnessEnds)
{
    const Pixel src { 200, 100, 0, 0 };
    EXPECT_EQ(RunMode(1, 0, 256, 0, src, Pixel {}), src);
    EXPECT_EQ(RunMode(1, 0, 0, 0, src, Pixel {}), (Pixel { 0, 0, 0, 0 }));
    EXPECT_EQ(RunMode(1, 0, 512, 0, src, Pixel {}), (Pixel { 255, 255, 255, 0 }));
    // Half-way up: S(v, 128) + S(255, 128) = v / 2 + 127.
    EXPECT_EQ(RunMode(1, 0, 384, 0, src, Pixel {}), (Pixel { 227, 177, 127, 0 }));
}

TEST(BlendEdgeCases, OpacityHalfway)
{
    EXPECT_EQ(RunMode(2, 0, 128, 0, Grey(200, 0), Grey(100, 0)), Grey(150, 0));
    // Level 256 (without the shortcut Blt takes) is the source, 0 the destination colour.
    EXPECT_EQ(RunMode(2, 0, 256, 0, Grey(200, 7), Grey(100, 9)), Grey(200, 7));
    EXPECT_EQ(RunMode(2, 0, 0, 0, Grey(200, 7), Grey(100, 9)), Grey(100, 7));
}

TEST(BlendEdgeCases, OpacityAbove256IsBrightness)
{
    const Pixel src { 200, 100, 0, 5 };
    const Pixel dst { 1, 2, 3, 4 };
    for (int level : { 257, 300, 384, 511, 512 }) {
        for (std::uint32_t flags : kFlagCombinations) {
            for (std::uint32_t rule = 0; rule < 4; ++rule) {
                EXPECT_EQ(RunMode(2 + 16 * rule, flags, level, 0x00FF00, src, dst),
                    RunMode(1 + 16 * rule, flags, level, 0x00FF00, src, dst))
                    << ModeText(2 + 16 * rule, flags, level);
            }
        }
    }
}

TEST(BlendEdgeCases, AddAndSubtractSaturate)
{
    EXPECT_EQ(RunMode(3, 0, 256, 0, Grey(200, 0), Grey(100, 0)), Grey(255, 0));
    EXPECT_EQ(RunMode(4, 0, 256, 0, Grey(200, 0), Grey(100, 0)), Grey(0, 0));
    EXPECT_EQ(RunMode(3, 0, 128, 0, Grey(200, 0), Grey(100, 0)), Grey(200, 0));
    EXPECT_EQ(RunMode(4, 0, 128, 0, Grey(200, 0), Grey(100, 0)), Grey(0, 0));
    EXPECT_EQ(RunMode(4, 0, 128, 0, Grey(100, 0), Grey(100, 0)), Grey(50, 0));
}

TEST(BlendEdgeCases, ExclusiveOr)
{
    EXPECT_EQ(RunMode(10, 0, 256, 0, Grey(0xF0, 0), Grey(0x3C, 0)), Grey(0xCC, 0));
    EXPECT_EQ(RunMode(10, 0, 0, 0, Grey(0xF0, 0), Grey(0x3C, 0)), Grey(0x3C, 0));
}

TEST(BlendEdgeCases, RuleTransitionAtLevel256ShowsTheMask)
{
    EXPECT_EQ(RunMode(5, 0, 256, 0, Grey(200, 0), Grey(100, 0), 0), Grey(100, 0));
    EXPECT_EQ(RunMode(5, 0, 256, 0, Grey(200, 0), Grey(100, 0), 255), Grey(200, 0));
    // Level 0 shows none of the source, 511 all of it, whatever the mask.
    for (std::uint8_t m : { 0, 128, 255 }) {
        EXPECT_EQ(RunMode(5, 0, 0, 0, Grey(200, 0), Grey(100, 0), m), Grey(100, 0));
        EXPECT_EQ(RunMode(5, 0, 511, 0, Grey(200, 0), Grey(100, 0), m), Grey(200, 0));
    }
    // Light mask pixels reach full weight first.
    EXPECT_EQ(RunMode(5, 0, 300, 0, Grey(200, 0), Grey(100, 0), 211), Grey(200, 0));
    EXPECT_EQ(RunMode(5, 0, 300, 0, Grey(200, 0), Grey(100, 0), 0), Grey(116, 0));
}

TEST(BlendEdgeCases, DestinationAlphaBlend)
{
    // Over a fully transparent destination nothing changes...
    EXPECT_EQ(RunMode(11, 0, 256, 0, Pixel { 200, 150, 100, 0 }, Pixel { 1, 2, 3, 255 }), (Pixel { 1, 2, 3, 255 }));
    // ...over an opaque one at level 256 the source colour is copied, T kept.
    EXPECT_EQ(RunMode(11, 0, 256, 0, Pixel { 200, 150, 100, 77 }, Pixel { 1, 2, 3, 0 }), (Pixel { 200, 150, 100, 0 }));
    for (std::uint32_t rule = 1; rule < 4; ++rule)
        EXPECT_EQ(RunMode(11 + 16 * rule, 0, 256, 0, Pixel { 200, 150, 100, 77 }, Pixel { 1, 2, 3, 9 }).t, 9);
}

TEST(BlendEdgeCases, AlphaRules)
{
    // Rule 1: source alpha 200 (T 55) with destination alpha 100 (T 155) gives alpha 255.
    EXPECT_EQ(RunMode(16, 0, 0, 0, Grey(1, 55), Grey(2, 155)).t, 0);
    // Rule 2: source alpha 100 (T 155), destination alpha 200 (T 55) gives alpha 100.
    EXPECT_EQ(RunMode(32, 0, 0, 0, Grey(1, 155), Grey(2, 55)).t, 155);
    // Rule 2 never goes below alpha 0.
    EXPECT_EQ(RunMode(32, 0, 0, 0, Grey(1, 55), Grey(2, 155)).t, 255);
    // Rule 3 keeps the destination's T, whatever the operation.
    EXPECT_EQ(RunMode(3 + 48, kSourceAlpha, 256, 0, Grey(1, 55), Grey(2, 155)).t, 155);
}

TEST(BlendEdgeCases, ColourMaskLeavesTransparencyAlone)
{
    EXPECT_EQ(RunMode(0, kColourMask, 0, 0x0F00FF, Pixel { 0xAB, 0xCD, 0xEF, 0x12 }, Pixel {}),
        (Pixel { 0xAB, 0x00, 0x0F, 0x12 }));
}

// Levels outside an operation's range behave as the nearest end.
TEST(BlendEdgeCases, LevelsOutsideTheRangeAreClamped)
{
    const Pixel src { 200, 100, 33, 60 };
    const Pixel dst { 10, 220, 130, 90 };
    struct Range {
        int op, low, high;
    };
    for (Range range : { Range { kOpBrightness, 0, 512 }, Range { kOpOpacity, 0, 512 }, Range { kOpAdd, 0, 256 },
             Range { kOpSubtract, 0, 256 }, Range { kOpRule, 0, 511 }, Range { kOpXor, 0, 256 },
             Range { kOpDestinationAlpha, 0, 256 } }) {
        for (std::uint32_t flags : kFlagCombinations) {
            const auto mode = static_cast<std::uint32_t>(range.op + 16);
            const Pixel low = RunMode(mode, flags, range.low, 0x7F7F7F, src, dst, 99);
            const Pixel high = RunMode(mode, flags, range.high, 0x7F7F7F, src, dst, 99);
            for (int level : { -32768, -257, -1 })
                EXPECT_EQ(RunMode(mode, flags, level, 0x7F7F7F, src, dst, 99), low) << ModeText(mode, flags, level);
            for (int level : { range.high + 1, 1000, 32767 })
                EXPECT_EQ(RunMode(mode, flags, level, 0x7F7F7F, src, dst, 99), high) << ModeText(mode, flags, level);
        }
    }
}

TEST(BlendEdgeCases, PitchesAreRoundedToWholePixels)
{
    // Two rows of two pixels with a pitch of 9 bytes behave as a pitch of 8.
    std::uint8_t s[16], d[16] = {};
    for (int i = 0; i < 16; ++i)
        s[i] = static_cast<std::uint8_t>(i + 1);
    BlendParams params;
    params.flags = kOpCopy + 48; // rule 3: not the plain copy
    PerPixelKernel(params.flags)(d, s, nullptr, 2, &params, 9, 9, 0, 2);
    const std::uint8_t expected[16] = { 1, 2, 3, 0, 5, 6, 7, 0, 9, 10, 11, 0, 13, 14, 15, 0 };
    EXPECT_EQ(std::memcmp(d, expected, 16), 0);
}

// --- The companions.

TEST(BlendCompanions, FillPixelsWithANegativePitch)
{
    std::vector<std::uint8_t> image(4 * 5 * 3, 0xAA); // 3 rows of 5 pixels, stored bottom-up
    FillPixels(image.data() + 2 * 20 + 4, 3, 2, -20, 0x00563412);
    for (int row = 0; row < 3; ++row) {
        for (int x = 0; x < 5; ++x) {
            const std::uint8_t* p = image.data() + row * 20 + x * 4;
            const bool inside = row >= 1 && x >= 1 && x <= 3;
            EXPECT_EQ(p[0], inside ? 0x12 : 0xAA);
            EXPECT_EQ(p[1], inside ? 0x34 : 0xAA);
            EXPECT_EQ(p[2], inside ? 0x56 : 0xAA);
            EXPECT_EQ(p[3], inside ? 0x00 : 0xAA);
        }
    }
}

TEST(BlendCompanions, SetTransparencyKeepsColours)
{
    std::vector<std::uint8_t> image(4 * 4 * 2);
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<std::uint8_t>(i);
    std::vector<std::uint8_t> expected = image;
    SetTransparency(image.data() + 4, 2, 2, 16, 0xFF);
    for (int row = 0; row < 2; ++row) {
        for (int x = 1; x <= 2; ++x)
            expected[static_cast<std::size_t>(row * 16 + x * 4 + 3)] = 0xFF;
    }
    EXPECT_EQ(image, expected);
}

// --- The differential test: each paired set against the per-pixel kernels.

class Random {
public:
    explicit Random(std::uint32_t seed)
        : m_engine(seed)
    {
    }
    std::uint32_t Below(std::uint32_t n) { return static_cast<std::uint32_t>(m_engine() % n); }
    // Bytes with the end points well represented.
    std::uint8_t Byte()
    {
        const std::uint32_t roll = Below(8);
        if (roll == 0)
            return 0;
        if (roll == 1)
            return 255;
        if (roll == 2)
            return static_cast<std::uint8_t>(Below(2) ? 1 : 254);
        return static_cast<std::uint8_t>(Below(256));
    }
    void Fill(std::vector<std::uint8_t>& bytes)
    {
        for (std::uint8_t& b : bytes)
            b = Byte();
    }

private:
    std::mt19937 m_engine;
};

// A picture of width x height pixels with some padding at each row end, and
// the pointer and pitch a kernel sees: top-down or bottom-up.
struct Picture {
    std::vector<std::uint8_t> bytes;
    std::int32_t pitch = 0;
    std::size_t first = 0;

    Picture(Random& random, std::int32_t width, std::int32_t height, bool bottomUp)
    {
        const std::int32_t rowBytes = 4 * (width + static_cast<std::int32_t>(random.Below(3)));
        bytes.resize(static_cast<std::size_t>(rowBytes * height));
        random.Fill(bytes);
        pitch = bottomUp ? -rowBytes : rowBytes;
        first = bottomUp ? static_cast<std::size_t>(rowBytes * (height - 1)) : 0;
    }
    std::uint8_t* At(std::int32_t x) { return bytes.data() + first + 4 * x; }
};

struct DifferentialCase {
    std::uint32_t mode = 0;
    BlendParams params;
    std::int32_t width = 1;
    std::int32_t height = 1;
    bool dstBottomUp = false, srcBottomUp = false, maskBottomUp = false;
};

std::string Describe(const DifferentialCase& c, KernelSet set)
{
    std::ostringstream out;
    out << KernelSetName(set) << " " << ModeText(c.mode, c.params.flags, c.params.level) << " colour " << std::hex
        << c.params.colour << std::dec << " " << c.width << "x" << c.height << (c.dstBottomUp ? " dst-up" : "")
        << (c.srcBottomUp ? " src-up" : "") << (c.maskBottomUp ? " mask-up" : "");
    return out.str();
}

::testing::AssertionResult SameBytes(const std::vector<std::uint8_t>& actual, const std::vector<std::uint8_t>& expected)
{
    for (std::size_t i = 0; i < expected.size(); ++i) {
        if (actual[i] != expected[i]) {
            return ::testing::AssertionFailure() << "byte " << i << " (pixel " << i / 4 << ", channel " << i % 4
                                                 << "): " << int(actual[i]) << " instead of " << int(expected[i]);
        }
    }
    return ::testing::AssertionSuccess();
}

// Runs the case three ways, from the same pictures: the per-pixel kernel on
// the whole width (the truth), the paired kernel on the whole width, and the
// split Blt makes (the paired kernel on the even part, the per-pixel one on a
// last odd column). Every byte of the destination picture, padding included,
// must agree.
void RunDifferential(Random& random, const DifferentialCase& c, KernelSet set)
{
    const BlendKernel reference = PerPixelKernel(c.mode);
    const BlendKernel paired = KernelOf(set, c.mode);
    ASSERT_NE(reference, nullptr);
    ASSERT_NE(paired, nullptr) << Describe(c, set);

    Picture dst(random, c.width, c.height, c.dstBottomUp);
    Picture src(random, c.width, c.height, c.srcBottomUp);
    Picture mask(random, c.width, c.height, c.maskBottomUp);
    const bool usesMask = (c.mode & 15) == kOpRule;
    const auto run = [&](BlendKernel kernel, Picture& target, std::int32_t x, std::int32_t width) {
        kernel(target.At(x), src.At(x), usesMask ? mask.At(x) : nullptr, width, &c.params, target.pitch, src.pitch,
            mask.pitch, c.height);
    };

    Picture expected = dst;
    run(reference, expected, 0, c.width);

    Picture whole = dst;
    run(paired, whole, 0, c.width);
    ASSERT_TRUE(SameBytes(whole.bytes, expected.bytes)) << "whole width, " << Describe(c, set);

    Picture split = dst;
    const std::int32_t even = c.width & ~1;
    if (even > 0)
        run(paired, split, 0, even);
    if (even < c.width)
        run(reference, split, even, 1);
    ASSERT_TRUE(SameBytes(split.bytes, expected.bytes)) << "even part and last column, " << Describe(c, set);
}

std::vector<KernelSet> PairedSets()
{
    std::vector<KernelSet> sets;
    for (KernelSet set : { KernelSet::Sse2, KernelSet::Avx2 }) {
        if (KernelSetSupported(set))
            sets.push_back(set);
    }
    return sets;
}

constexpr std::array<int, 14> kInterestingLevels = { 0, 1, 2, 127, 128, 254, 255, 256, 257, 300, 510, 511, 512, 513 };

TEST(BlendDifferential, PairedKernelsEqualPerPixelKernelsOnRandomPictures)
{
    const std::vector<KernelSet> sets = PairedSets();
    if (sets.empty())
        GTEST_SKIP() << "no paired kernels on this processor";
    for (KernelSet set : sets) {
        Random random(20240611u + static_cast<std::uint32_t>(set));
        for (std::uint32_t mode : ModesWithKernels()) {
            for (std::uint32_t flags : kFlagCombinations) {
                for (std::int32_t width = 1; width <= 67; ++width) {
                    DifferentialCase c;
                    c.mode = mode;
                    c.params.flags = mode | flags;
                    // Every interesting level turns up at every width class; a quarter are random.
                    c.params.level = static_cast<std::int16_t>(random.Below(4) == 0
                            ? static_cast<int>(random.Below(560)) - 20
                            : kInterestingLevels[static_cast<std::size_t>(width) % kInterestingLevels.size()]);
                    c.params.colour = (flags & kColourMask) ? (0xFF000000u | random.Below(0x1000000u)) : 0xFFFFFFFFu;
                    c.width = width;
                    c.height = 1 + static_cast<std::int32_t>(random.Below(3));
                    c.dstBottomUp = random.Below(2) != 0;
                    c.srcBottomUp = random.Below(2) != 0;
                    c.maskBottomUp = random.Below(2) != 0;
                    RunDifferential(random, c, set);
                    if (HasFatalFailure())
                        return;
                }
            }
        }
    }
}

TEST(BlendDifferential, PairedKernelsEqualPerPixelKernelsAtEveryLevel)
{
    const std::vector<KernelSet> sets = PairedSets();
    if (sets.empty())
        GTEST_SKIP() << "no paired kernels on this processor";
    for (KernelSet set : sets) {
        Random random(777u + static_cast<std::uint32_t>(set));
        for (std::uint32_t mode : ModesWithKernels()) {
            if ((mode & 15) == kOpCopy)
                continue;
            for (std::uint32_t flags : kFlagCombinations) {
                for (int level = -3; level <= 515; ++level) {
                    DifferentialCase c;
                    c.mode = mode;
                    c.params.flags = mode | flags;
                    c.params.level = static_cast<std::int16_t>(level);
                    c.params.colour = (flags & kColourMask) ? (0xFF000000u | random.Below(0x1000000u)) : 0xFFFFFFFFu;
                    c.width = 15; // one step of 8, of 4, of 2 and a last pixel
                    c.height = 1;
                    RunDifferential(random, c, set);
                    if (HasFatalFailure())
                        return;
                }
            }
        }
    }
}

} // namespace
