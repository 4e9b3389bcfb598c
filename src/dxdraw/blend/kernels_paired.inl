// The paired blend kernels, written once over a small set of vector
// operations and compiled twice: by kernels_sse2.cpp with 128-bit registers
// and by kernels_avx2.cpp with 256-bit ones. Included inside an unnamed
// namespace of DxDraw, after the including file has defined its operations,
// so each copy stays private to the file and to its instruction set.
//
// The including file provides:
//   Plan::Wide          the step of the main loop (Ops, kPixels, kHalves, Load, Store)
//   Plan::Narrow<N>     steps of 4, 2 and 1 pixels for the end of a row
//   Plan::NarrowOps     the operations of the narrow steps
// and each Ops type: R, Zero, Set8/16/32, And, Or, Xor, Not, Add16, Mullo16,
// Mulhi16, Srli16<n>, AddsU8, SubsU8, UnpackLo8, UnpackHi8, Pack16, Spread<k>
// (lane k of each pixel to all four lanes of that pixel) and SelectT (colour
// bytes from the first argument, transparency bytes from the second).
//
// Exactness. The per-pixel kernels (kernels_reference.cpp) are the truth and
// these give the same bytes, not bytes within one unit:
//   M(v, k) = floor(v * k / 255): v * k <= 65025 fits a 16-bit lane, and for
//     every 16-bit x, floor(x / 255) = (x * 0x8081) >> 23, that is the high
//     half of a 16-bit multiply by 0x8081 shifted right by 7;
//   S(v, L) = floor(v * L / 256) = (v * L) >> 8 with v * L <= 65280;
//   blend(x, d, w) = M(x, w) + M(d, 255 - w) as two separately floored terms;
//   clamp(m + L - 256, 0, 255) with bytes: saturating add, then saturating
//     subtract (KernelLevels::ruleAdd, ruleSub).
// Colours are computed in all four 16-bit lanes of a pixel; the lane of the
// transparency byte is then replaced according to the rule.

template <class Ops> struct Consts {
    using R = typename Ops::R;
    R colour; // the AND mask of flag 0x40000, transparency byte all ones
    R level; // L, at most 256
    R inverse; // 256 - L
    R bright; // brightness: B(v) = S(v, bright) + brightAdd
    R brightAdd;
    R ruleAdd; // rule transition, bytes
    R ruleSub;
    R ones; // 255 in every 16-bit lane
    R divide; // 0x8081 in every 16-bit lane

    Consts(const KernelLevels& levels, std::uint32_t colourMask)
    {
        const std::int32_t scaleLevel = levels.level > kLevelFull ? kLevelFull : levels.level;
        colour = Ops::Set32(colourMask);
        level = Ops::Set16(scaleLevel);
        inverse = Ops::Set16(kLevelFull - scaleLevel);
        bright = Ops::Set16(levels.brightLevel);
        brightAdd = Ops::Set16(levels.brightAdd);
        ruleAdd = Ops::Set8(levels.ruleAdd);
        ruleSub = Ops::Set8(levels.ruleSub);
        ones = Ops::Set16(255);
        divide = Ops::Set16(0x8081);
    }
};

// M(v, k) on 16-bit lanes.
template <class Ops> inline typename Ops::R Multiply(typename Ops::R v, typename Ops::R k, const Consts<Ops>& c)
{
    return Ops::template Srli16<7>(Ops::Mulhi16(Ops::Mullo16(v, k), c.divide));
}

// S(v, L) on 16-bit lanes.
template <class Ops> inline typename Ops::R Scale(typename Ops::R v, typename Ops::R level)
{
    return Ops::template Srli16<8>(Ops::Mullo16(v, level));
}

// blend(x, d, w) = M(x, w) + M(d, 255 - w).
template <class Ops>
inline typename Ops::R Blend(typename Ops::R x, typename Ops::R d, typename Ops::R w, const Consts<Ops>& c)
{
    return Ops::Add16(Multiply<Ops>(x, w, c), Multiply<Ops>(d, Ops::Xor(w, c.ones), c));
}

// The colour formula of an operation on one register of unpacked pixels:
// s = s' and d in 16-bit lanes, rule = the rule weight bytes (operation 5).
// Operations 3, 4 and 10 return the amount that is then added, subtracted or
// XORed with bytes; FullLevel says that their level is 256, where S(v, 256) = v.
template <class Ops, int Op, bool SourceAlpha, bool FullLevel>
inline typename Ops::R Colour(typename Ops::R s, typename Ops::R d, typename Ops::R rule, const Consts<Ops>& c)
{
    using R = typename Ops::R;
    R a = Ops::Zero();
    R ts = Ops::Zero();
    if constexpr (SourceAlpha) {
        ts = Ops::template Spread<3>(s);
        a = Ops::Xor(ts, c.ones);
    }
    if constexpr (Op == kOpCopy) {
        static_assert(SourceAlpha);
        // blend(s', d, A): the destination weight 255 - A is Ts itself.
        return Ops::Add16(Multiply<Ops>(s, a, c), Multiply<Ops>(d, ts, c));
    } else if constexpr (Op == kOpBrightness) {
        const R b = Ops::Add16(Scale<Ops>(s, c.bright), c.brightAdd);
        if constexpr (SourceAlpha)
            return Ops::Add16(Multiply<Ops>(b, a, c), Multiply<Ops>(d, ts, c));
        else
            return b;
    } else if constexpr (Op == kOpOpacity) {
        if constexpr (SourceAlpha)
            return Blend<Ops>(s, d, Scale<Ops>(a, c.level), c);
        else
            return Ops::Add16(Scale<Ops>(s, c.level), Scale<Ops>(d, c.inverse));
    } else if constexpr (Op == kOpAdd || Op == kOpSubtract || Op == kOpXor) {
        R t = s;
        if constexpr (!FullLevel)
            t = Scale<Ops>(s, c.level);
        if constexpr (SourceAlpha)
            return Multiply<Ops>(t, a, c);
        else
            return t;
    } else if constexpr (Op == kOpRule) {
        R w = Ops::template Spread<0>(rule);
        if constexpr (SourceAlpha)
            w = Multiply<Ops>(w, a, c);
        return Blend<Ops>(s, d, w, c);
    } else {
        static_assert(Op == kOpDestinationAlpha);
        R ad = Ops::Xor(Ops::template Spread<3>(d), c.ones);
        if constexpr (SourceAlpha)
            ad = Multiply<Ops>(a, ad, c);
        return Blend<Ops>(s, d, Scale<Ops>(ad, c.level), c);
    }
}

// One step of V::kPixels pixels.
template <class V, int Op, int Rule, bool SourceAlpha, bool ColourMask, bool FullLevel>
inline void Step(std::uint8_t* dst, const std::uint8_t* src, const std::uint8_t* mask, const Consts<typename V::Ops>& c)
{
    using Ops = typename V::Ops;
    using R = typename Ops::R;
    const R s = V::Load(src);
    const R d = V::Load(dst);
    R sc = s;
    if constexpr (ColourMask)
        sc = Ops::And(s, c.colour);

    R colour;
    if constexpr (Op == kOpCopy && !SourceAlpha) {
        colour = sc;
    } else if constexpr ((Op == kOpAdd || Op == kOpSubtract || Op == kOpXor) && FullLevel && !SourceAlpha) {
        // S(s', 256) = s': bytes throughout.
        if constexpr (Op == kOpAdd)
            colour = Ops::AddsU8(d, sc);
        else if constexpr (Op == kOpSubtract)
            colour = Ops::SubsU8(d, sc);
        else
            colour = Ops::Xor(d, sc);
    } else if constexpr (!SourceAlpha
        && (Op == kOpBrightness || Op == kOpOpacity || Op == kOpAdd || Op == kOpSubtract || Op == kOpXor)) {
        // Only S(v, L) is needed, and (v * L) >> 8 is the high half of (v << 8) * L:
        // unpacking into the high byte saves the shift.
        const R zero = Ops::Zero();
        R lo, hi = zero;
        if constexpr (Op == kOpBrightness) {
            lo = Ops::Add16(Ops::Mulhi16(Ops::UnpackLo8(zero, sc), c.bright), c.brightAdd);
            if constexpr (V::kHalves == 2)
                hi = Ops::Add16(Ops::Mulhi16(Ops::UnpackHi8(zero, sc), c.bright), c.brightAdd);
        } else if constexpr (Op == kOpOpacity) {
            lo = Ops::Add16(
                Ops::Mulhi16(Ops::UnpackLo8(zero, sc), c.level), Ops::Mulhi16(Ops::UnpackLo8(zero, d), c.inverse));
            if constexpr (V::kHalves == 2) {
                hi = Ops::Add16(
                    Ops::Mulhi16(Ops::UnpackHi8(zero, sc), c.level), Ops::Mulhi16(Ops::UnpackHi8(zero, d), c.inverse));
            }
        } else {
            lo = Ops::Mulhi16(Ops::UnpackLo8(zero, sc), c.level);
            if constexpr (V::kHalves == 2)
                hi = Ops::Mulhi16(Ops::UnpackHi8(zero, sc), c.level);
        }
        const R packed = Ops::Pack16(lo, hi);
        if constexpr (Op == kOpAdd)
            colour = Ops::AddsU8(d, packed);
        else if constexpr (Op == kOpSubtract)
            colour = Ops::SubsU8(d, packed);
        else if constexpr (Op == kOpXor)
            colour = Ops::Xor(d, packed);
        else
            colour = packed;
    } else {
        const R zero = Ops::Zero();
        R rule = zero;
        if constexpr (Op == kOpRule)
            rule = Ops::SubsU8(Ops::AddsU8(V::Load(mask), c.ruleAdd), c.ruleSub);
        const R lo = Colour<Ops, Op, SourceAlpha, FullLevel>(
            Ops::UnpackLo8(sc, zero), Ops::UnpackLo8(d, zero), Ops::UnpackLo8(rule, zero), c);
        R hi = zero;
        if constexpr (V::kHalves == 2) {
            hi = Colour<Ops, Op, SourceAlpha, FullLevel>(
                Ops::UnpackHi8(sc, zero), Ops::UnpackHi8(d, zero), Ops::UnpackHi8(rule, zero), c);
        }
        const R packed = Ops::Pack16(lo, hi);
        if constexpr (Op == kOpAdd)
            colour = Ops::AddsU8(d, packed);
        else if constexpr (Op == kOpSubtract)
            colour = Ops::SubsU8(d, packed);
        else if constexpr (Op == kOpXor)
            colour = Ops::Xor(d, packed);
        else
            colour = packed;
    }

    // The transparency byte, from the bytes before the call.
    R t;
    if constexpr (Op == kOpDestinationAlpha || Rule == kRuleKeep)
        t = d;
    else if constexpr (Rule == kRuleCopySource)
        t = s;
    else if constexpr (Rule == kRuleAddAlpha)
        t = Ops::SubsU8(s, Ops::Not(d)); // max(0, Ts + Td - 255) = Ts -sat (255 - Td)
    else
        t = Ops::Not(Ops::SubsU8(s, d)); // 255 - max(0, Ts - Td)
    V::Store(dst, Ops::SelectT(colour, t));
}

template <int Op> inline const std::uint8_t* MaskAt(const std::uint8_t* mask, std::int32_t x)
{
    if constexpr (Op == kOpRule)
        return mask + 4 * x;
    else
        return nullptr;
}

template <class Plan, int Op, int Rule, bool SourceAlpha, bool ColourMask, bool FullLevel>
void Rows(std::uint8_t* dst, const std::uint8_t* src, const std::uint8_t* mask, std::int32_t width,
    std::int32_t dstPitch, std::int32_t srcPitch, std::int32_t maskPitch, std::int32_t height,
    const KernelLevels& levels, std::uint32_t colour)
{
    using Wide = typename Plan::Wide;
    using Narrow4 = typename Plan::template Narrow<4>;
    using Narrow2 = typename Plan::template Narrow<2>;
    using Narrow1 = typename Plan::template Narrow<1>;
    const Consts<typename Wide::Ops> wide(levels, colour);
    const Consts<typename Plan::NarrowOps> narrow(levels, colour);
    for (std::int32_t y = 0; y < height; ++y) {
        std::int32_t x = 0;
        for (; x + Wide::kPixels <= width; x += Wide::kPixels)
            Step<Wide, Op, Rule, SourceAlpha, ColourMask, FullLevel>(
                dst + 4 * x, src + 4 * x, MaskAt<Op>(mask, x), wide);
        if constexpr (Wide::kPixels > 4) {
            if (x + 4 <= width) {
                Step<Narrow4, Op, Rule, SourceAlpha, ColourMask, FullLevel>(
                    dst + 4 * x, src + 4 * x, MaskAt<Op>(mask, x), narrow);
                x += 4;
            }
        }
        if (x + 2 <= width) {
            Step<Narrow2, Op, Rule, SourceAlpha, ColourMask, FullLevel>(
                dst + 4 * x, src + 4 * x, MaskAt<Op>(mask, x), narrow);
            x += 2;
        }
        // Callers give the paired kernels even widths; an odd one still ends correctly.
        if (x < width)
            Step<Narrow1, Op, Rule, SourceAlpha, ColourMask, FullLevel>(
                dst + 4 * x, src + 4 * x, MaskAt<Op>(mask, x), narrow);
        dst += dstPitch;
        src += srcPitch;
        if constexpr (Op == kOpRule)
            mask += maskPitch;
    }
}

// The four inner loops of a kernel, one per combination of flags 0x10000 and 0x40000.
template <class Plan, int Op, int Rule, bool FullLevel>
void FlagLoops(std::uint8_t* dst, const std::uint8_t* src, const std::uint8_t* mask, std::int32_t width,
    std::int32_t dstPitch, std::int32_t srcPitch, std::int32_t maskPitch, std::int32_t height,
    const KernelLevels& levels, std::uint32_t colour, bool sourceAlpha, bool colourMask)
{
    if (sourceAlpha) {
        if (colourMask)
            Rows<Plan, Op, Rule, true, true, FullLevel>(
                dst, src, mask, width, dstPitch, srcPitch, maskPitch, height, levels, colour);
        else
            Rows<Plan, Op, Rule, true, false, FullLevel>(
                dst, src, mask, width, dstPitch, srcPitch, maskPitch, height, levels, colour);
    } else {
        if (colourMask)
            Rows<Plan, Op, Rule, false, true, FullLevel>(
                dst, src, mask, width, dstPitch, srcPitch, maskPitch, height, levels, colour);
        else
            Rows<Plan, Op, Rule, false, false, FullLevel>(
                dst, src, mask, width, dstPitch, srcPitch, maskPitch, height, levels, colour);
    }
}

template <class Plan, int Op, int Rule>
void Kernel(std::uint8_t* dst, const std::uint8_t* src, const std::uint8_t* mask, std::int32_t width,
    const BlendParams* params, std::int32_t dstPitch, std::int32_t srcPitch, std::int32_t maskPitch,
    std::int32_t height)
{
    const BlendParams p = params ? *params : BlendParams {};
    if constexpr (Op == kOpOpacity) {
        if (p.level > kLevelFull) {
            return Kernel<Plan, kOpBrightness, Rule>(
                dst, src, mask, width, params, dstPitch, srcPitch, maskPitch, height);
        }
    }
    const KernelLevels levels = PrepareLevels(Op, p.level);
    const std::uint32_t colour = MaskColour(p.colour);
    dstPitch = PixelPitch(dstPitch);
    srcPitch = PixelPitch(srcPitch);
    const bool sourceAlpha = (p.flags & kBlendSourceAlpha) != 0;
    const bool colourMask = (p.flags & kBlendColourMask) != 0;
    if constexpr (Op == kOpCopy && Rule == kRuleCopySource) {
        if (!sourceAlpha && !colourMask) {
            // The plain copy: whole pixels, transparency bytes included.
            for (std::int32_t y = 0; y < height; ++y, dst += dstPitch, src += srcPitch)
                std::memmove(dst, src, static_cast<std::size_t>(width) * 4);
            return;
        }
    }
    if constexpr (Op == kOpAdd || Op == kOpSubtract || Op == kOpXor) {
        // Full-strength glow (add at level 256) is common and then needs no multiply.
        if (levels.level == kLevelFull) {
            FlagLoops<Plan, Op, Rule, true>(
                dst, src, mask, width, dstPitch, srcPitch, maskPitch, height, levels, colour, sourceAlpha, colourMask);
            return;
        }
    }
    FlagLoops<Plan, Op, Rule, false>(
        dst, src, mask, width, dstPitch, srcPitch, maskPitch, height, levels, colour, sourceAlpha, colourMask);
}

template <class Plan, int Op> constexpr void PutOperation(KernelTable& table)
{
    if constexpr (Op == kOpDestinationAlpha) {
        for (int rule = 0; rule < 4; ++rule)
            table.entries[Op + 16 * rule] = &Kernel<Plan, Op, kRuleKeep>;
    } else {
        table.entries[Op + 16 * kRuleCopySource] = &Kernel<Plan, Op, kRuleCopySource>;
        table.entries[Op + 16 * kRuleAddAlpha] = &Kernel<Plan, Op, kRuleAddAlpha>;
        table.entries[Op + 16 * kRuleSubAlpha] = &Kernel<Plan, Op, kRuleSubAlpha>;
        table.entries[Op + 16 * kRuleKeep] = &Kernel<Plan, Op, kRuleKeep>;
    }
}

template <class Plan> constexpr KernelTable MakeTable()
{
    KernelTable table {};
    PutOperation<Plan, kOpCopy>(table);
    PutOperation<Plan, kOpBrightness>(table);
    PutOperation<Plan, kOpOpacity>(table);
    PutOperation<Plan, kOpAdd>(table);
    PutOperation<Plan, kOpSubtract>(table);
    PutOperation<Plan, kOpRule>(table);
    PutOperation<Plan, kOpXor>(table);
    PutOperation<Plan, kOpDestinationAlpha>(table);
    return table;
}
