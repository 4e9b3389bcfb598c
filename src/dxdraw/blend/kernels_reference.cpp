// The per-pixel blend kernels: the reference form of the family.
//
// Each kernel is the formula of its operation written out once per colour
// channel, with every multiplication by an alpha or a level looked up in the
// fixed tables (blend_tables.h). The mode picks the kernel; inside a kernel
// the flags 0x10000 (source alpha) and 0x40000 (colour mask) pick one of four
// inner loops, so nothing is tested per pixel. The paired kernels
// (kernels_sse2.cpp, kernels_avx2.cpp) must produce the same bytes.
//
// With s' the source byte (ANDed with the colour mask byte when 0x40000 is
// set), d the destination byte, A = 255 - Ts and Ad = 255 - Td, and
// blend(x, d, w) = M(x, w) + M(d, 255 - w):
//
//   op  without source alpha         with source alpha
//    0  s'                           blend(s', d, A)
//    1  B(s')                        blend(B(s'), d, A)
//    2  S(s', L) + S(d, 256 - L)     blend(s', d, S(A, L))       (L <= 256; above: as 1)
//    3  min(255, d + S(s', L))       min(255, d + M(S(s', L), A))
//    4  max(0, d - S(s', L))         max(0, d - M(S(s', L), A))
//    5  blend(s', d, w)              blend(s', d, M(w, A))       w = clamp(m + L - 256, 0, 255)
//   10  d XOR S(s', L)               d XOR M(S(s', L), A)
//   11  blend(s', d, S(Ad, L))       blend(s', d, S(M(A, Ad), L))
//
// B(v) is S(v, L) up to 256 and S(v, 512 - L) + S(255, L - 256) above (to
// white at 512). The transparency byte follows the rule of the mode for
// operations 0-10, from the transparency bytes before the call; operation 11
// keeps the destination's.
#include "dxdraw/blend.h"
#include "dxdraw/blend/blend_tables.h"
#include "dxdraw/blend/kernels.h"

#include <cstring>

namespace DxDraw {

namespace {

struct Context {
    const BlendTables* tables = nullptr;
    KernelLevels levels;
    std::uint8_t colour[3] = { 0xFF, 0xFF, 0xFF }; // AND masks for blue, green, red
    const std::uint8_t* scaleLevel = nullptr; // S(., L)
    const std::uint8_t* scaleInverse = nullptr; // S(., 256 - L), opacity
    const std::uint8_t* scaleBright = nullptr; // S(., brightLevel)

    std::uint8_t M(std::uint8_t v, std::uint8_t k) const { return tables->multiply[k][v]; }
    std::uint8_t Blend(std::uint8_t x, std::uint8_t d, std::uint8_t w) const
    {
        // Two separately floored terms, never one rounded sum.
        return static_cast<std::uint8_t>(M(x, w) + M(d, static_cast<std::uint8_t>(255 - w)));
    }
};

// The colour of one channel. `a` is the source alpha A, `ad` the destination
// alpha Ad, `w` the rule weight of operation 5 (unused by the others).
template <int Op, bool SourceAlpha>
inline std::uint8_t Channel(
    std::uint8_t s, std::uint8_t d, std::uint8_t a, std::uint8_t ad, std::uint8_t w, const Context& c)
{
    if constexpr (Op == kOpCopy) {
        if constexpr (SourceAlpha)
            return c.Blend(s, d, a);
        else
            return s;
    } else if constexpr (Op == kOpBrightness) {
        const auto b = static_cast<std::uint8_t>(c.scaleBright[s] + c.levels.brightAdd);
        if constexpr (SourceAlpha)
            return c.Blend(b, d, a);
        else
            return b;
    } else if constexpr (Op == kOpOpacity) {
        if constexpr (SourceAlpha)
            return c.Blend(s, d, c.scaleLevel[a]);
        else
            return static_cast<std::uint8_t>(c.scaleLevel[s] + c.scaleInverse[d]);
    } else if constexpr (Op == kOpAdd || Op == kOpSubtract || Op == kOpXor) {
        std::uint8_t t = c.scaleLevel[s];
        if constexpr (SourceAlpha)
            t = c.M(t, a);
        if constexpr (Op == kOpAdd) {
            const int sum = d + t;
            return static_cast<std::uint8_t>(sum > 255 ? 255 : sum);
        } else if constexpr (Op == kOpSubtract) {
            return static_cast<std::uint8_t>(d > t ? d - t : 0);
        } else {
            return static_cast<std::uint8_t>(d ^ t);
        }
    } else if constexpr (Op == kOpRule) {
        if constexpr (SourceAlpha)
            return c.Blend(s, d, c.M(w, a));
        else
            return c.Blend(s, d, w);
    } else {
        static_assert(Op == kOpDestinationAlpha);
        if constexpr (SourceAlpha)
            return c.Blend(s, d, c.scaleLevel[c.M(a, ad)]);
        else
            return c.Blend(s, d, c.scaleLevel[ad]);
    }
}

template <int Op, int Rule, bool SourceAlpha, bool ColourMask>
inline void Pixel(std::uint8_t* dst, const std::uint8_t* src, const std::uint8_t* mask, const Context& c)
{
    const std::uint8_t ts = src[3];
    const std::uint8_t td = dst[3];
    const auto a = static_cast<std::uint8_t>(255 - ts);
    const auto ad = static_cast<std::uint8_t>(255 - td);
    std::uint8_t w = 0;
    if constexpr (Op == kOpRule) {
        const int weight = mask[0] + c.levels.level - 256;
        w = static_cast<std::uint8_t>(weight < 0 ? 0 : weight > 255 ? 255 : weight);
    }
    for (int channel = 0; channel < 3; ++channel) {
        std::uint8_t s = src[channel];
        if constexpr (ColourMask)
            s &= c.colour[channel];
        dst[channel] = Channel<Op, SourceAlpha>(s, dst[channel], a, ad, w, c);
    }
    if constexpr (Op == kOpDestinationAlpha || Rule == kRuleKeep) {
        // The destination keeps its transparency byte.
    } else if constexpr (Rule == kRuleCopySource) {
        dst[3] = ts;
    } else if constexpr (Rule == kRuleAddAlpha) {
        dst[3] = c.tables->addAlpha[ts][td];
    } else {
        static_assert(Rule == kRuleSubAlpha);
        dst[3] = c.tables->subtractAlpha[ts][td];
    }
}

template <int Op, int Rule, bool SourceAlpha, bool ColourMask>
void Rows(std::uint8_t* dst, const std::uint8_t* src, const std::uint8_t* mask, std::int32_t width,
    std::int32_t dstPitch, std::int32_t srcPitch, std::int32_t maskPitch, std::int32_t height, const Context& c)
{
    for (std::int32_t y = 0; y < height; ++y) {
        if constexpr (Op == kOpCopy && Rule == kRuleCopySource && !SourceAlpha && !ColourMask) {
            // The plain copy moves whole pixels, transparency bytes included.
            std::memmove(dst, src, static_cast<std::size_t>(width) * 4);
        } else {
            for (std::int32_t x = 0; x < width; ++x) {
                const std::uint8_t* m = nullptr;
                if constexpr (Op == kOpRule)
                    m = mask + 4 * x;
                Pixel<Op, Rule, SourceAlpha, ColourMask>(dst + 4 * x, src + 4 * x, m, c);
            }
        }
        dst += dstPitch;
        src += srcPitch;
        if constexpr (Op == kOpRule)
            mask += maskPitch;
    }
}

template <int Op, int Rule>
void Kernel(std::uint8_t* dst, const std::uint8_t* src, const std::uint8_t* mask, std::int32_t width,
    const BlendParams* params, std::int32_t dstPitch, std::int32_t srcPitch, std::int32_t maskPitch,
    std::int32_t height)
{
    const BlendParams p = params ? *params : BlendParams {};
    if constexpr (Op == kOpOpacity) {
        // Above 256 opacity brightens, exactly as operation 1 with that level.
        if (p.level > kLevelFull)
            return Kernel<kOpBrightness, Rule>(dst, src, mask, width, params, dstPitch, srcPitch, maskPitch, height);
    }
    Context c;
    c.tables = &Tables();
    c.levels = PrepareLevels(Op, p.level);
    const std::uint32_t colour = MaskColour(p.colour);
    c.colour[0] = static_cast<std::uint8_t>(colour);
    c.colour[1] = static_cast<std::uint8_t>(colour >> 8);
    c.colour[2] = static_cast<std::uint8_t>(colour >> 16);
    c.scaleLevel = c.tables->scale[c.levels.level > kLevelFull ? kLevelFull : c.levels.level];
    c.scaleInverse = c.tables->scale[kLevelFull - (c.levels.level > kLevelFull ? kLevelFull : c.levels.level)];
    c.scaleBright = c.tables->scale[c.levels.brightLevel];

    dstPitch = PixelPitch(dstPitch);
    srcPitch = PixelPitch(srcPitch);
    const bool sourceAlpha = (p.flags & kBlendSourceAlpha) != 0;
    const bool colourMask = (p.flags & kBlendColourMask) != 0;
    if (sourceAlpha) {
        if (colourMask)
            Rows<Op, Rule, true, true>(dst, src, mask, width, dstPitch, srcPitch, maskPitch, height, c);
        else
            Rows<Op, Rule, true, false>(dst, src, mask, width, dstPitch, srcPitch, maskPitch, height, c);
    } else {
        if (colourMask)
            Rows<Op, Rule, false, true>(dst, src, mask, width, dstPitch, srcPitch, maskPitch, height, c);
        else
            Rows<Op, Rule, false, false>(dst, src, mask, width, dstPitch, srcPitch, maskPitch, height, c);
    }
}

template <int Op> constexpr void PutOperation(KernelTable& table)
{
    if constexpr (Op == kOpDestinationAlpha) {
        // One kernel for all four rules: the transparency byte is always kept.
        for (int rule = 0; rule < 4; ++rule)
            table.entries[Op + 16 * rule] = &Kernel<Op, kRuleKeep>;
    } else {
        table.entries[Op + 16 * kRuleCopySource] = &Kernel<Op, kRuleCopySource>;
        table.entries[Op + 16 * kRuleAddAlpha] = &Kernel<Op, kRuleAddAlpha>;
        table.entries[Op + 16 * kRuleSubAlpha] = &Kernel<Op, kRuleSubAlpha>;
        table.entries[Op + 16 * kRuleKeep] = &Kernel<Op, kRuleKeep>;
    }
}

constexpr KernelTable MakeTable()
{
    KernelTable table {};
    PutOperation<kOpCopy>(table);
    PutOperation<kOpBrightness>(table);
    PutOperation<kOpOpacity>(table);
    PutOperation<kOpAdd>(table);
    PutOperation<kOpSubtract>(table);
    PutOperation<kOpRule>(table);
    PutOperation<kOpXor>(table);
    PutOperation<kOpDestinationAlpha>(table);
    return table;
}

} // namespace

constinit const KernelTable kPerPixelKernels = MakeTable();

void FillPixels(std::uint8_t* dst, std::int32_t width, std::int32_t height, std::int32_t pitch, std::uint32_t value)
{
    std::uint8_t bytes[4];
    std::memcpy(bytes, &value, 4);
    for (std::int32_t y = 0; y < height; ++y, dst += pitch) {
        for (std::int32_t x = 0; x < width; ++x)
            std::memcpy(dst + 4 * x, bytes, 4);
    }
}

void SetTransparency(std::uint8_t* dst, std::int32_t width, std::int32_t height, std::int32_t pitch, std::uint8_t t)
{
    for (std::int32_t y = 0; y < height; ++y, dst += pitch) {
        for (std::int32_t x = 0; x < width; ++x)
            dst[4 * x + 3] = t;
    }
}

} // namespace DxDraw
