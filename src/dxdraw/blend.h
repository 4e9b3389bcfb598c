// The blend kernels: every pixel transfer of the engine goes through one of
// them, chosen by the mode byte of the blend parameters (operation + 16 x
// destination-alpha rule).
//
// The per-pixel kernels are the reference. The paired kernels (SSE2 on every
// x86-64, AVX2 where the processor has it) give bit-identical results; they
// are chosen once at start-up and can be switched off (option -M, or
// KESTREL_NO_SIMD=1 in the environment).
#pragma once

#include <cstdint>
#include <string_view>

namespace DxDraw {

class DxImage;

// Flags of the blend parameter record.
inline constexpr std::uint32_t kBlendOperationMask = 0x0F;
inline constexpr std::uint32_t kBlendRuleMask = 0x30;
inline constexpr std::uint32_t kBlendModeMask = 0xFF;
inline constexpr std::uint32_t kBlendSourceAlpha = 0x10000;
inline constexpr std::uint32_t kBlendReserved20000 = 0x20000; // always cleared before a kernel runs
inline constexpr std::uint32_t kBlendColourMask = 0x40000;
inline constexpr std::uint32_t kBlendNoShortcuts = 0x10000000;

// Operations (bits 0-3 of the mode byte).
enum BlendOperation : std::uint8_t {
    kOpCopy = 0,
    kOpBrightness = 1,
    kOpOpacity = 2,
    kOpAdd = 3,
    kOpSubtract = 4,
    kOpRule = 5,
    kOpXor = 10,
    kOpDestinationAlpha = 11,
};

// Destination-alpha rules (bits 4-5 of the mode byte, already shifted down).
enum BlendRule : std::uint8_t {
    kRuleCopySource = 0, // source T is copied
    kRuleAddAlpha = 1,   // alpha = min(255, A + Ad)
    kRuleSubAlpha = 2,   // alpha = max(0, Ad - A)
    kRuleKeep = 3,       // destination T unchanged
};

// The level and its range per operation; a kernel clamps a level outside the
// range to the nearest end, so no level reads outside a table:
//   1 brightness, 2 opacity: 0 ... 512 (0 black or nothing, 256 unchanged or
//     full, above 256 brightening to white at 512; opacity above 256 is
//     brightness);
//   3 add, 4 subtract, 10 exclusive-or, 11 destination alpha: 0 ... 256;
//   5 rule transition: 0 ... 511 (clamping changes no result there);
//   0 copy: unused.
struct BlendParams {
    std::uint32_t flags = 0;
    std::int16_t level = 0;
    std::uint32_t colour = 0; // low three bytes: AND masks for blue, green, red (with kBlendColourMask)
    DxImage* mask = nullptr;  // the rule image of operation 5
};

// dst, src and mask point at the first pixel of the rectangle; pitches are
// signed byte steps between rows; width and height are at least 1.
using BlendKernel = void (*)(std::uint8_t* dst, const std::uint8_t* src, const std::uint8_t* mask, std::int32_t width,
    const BlendParams* params, std::int32_t dstPitch, std::int32_t srcPitch, std::int32_t maskPitch,
    std::int32_t height);

inline constexpr int kModeCount = 64;

// The per-pixel kernel of a mode, or null when the mode has none.
BlendKernel PerPixelKernel(std::uint32_t mode);
// The paired kernel of a mode, or null when the mode has none or the paired
// kernels are off. Blt gives it the even part of the width; it also finishes
// an odd width correctly, so any width gives the per-pixel kernel's bytes.
BlendKernel PairedKernel(std::uint32_t mode);

enum class KernelSet { PerPixel, Sse2, Avx2 };
// The set in use: the best the processor offers unless forced off.
KernelSet ActiveKernelSet();
std::string_view KernelSetName(KernelSet set);
// Option -M: use the per-pixel kernels only.
void ForcePerPixelKernels(bool force);
// Whether this processor (and build) can run a set; PerPixel always can.
// Ignores -M and KESTREL_NO_SIMD, which only change the active set.
bool KernelSetSupported(KernelSet set);
// The kernel of a mode in one given set, whatever set is active: the
// per-pixel kernel for PerPixel, the paired one otherwise. Null when the mode
// has none or the set is not supported here. For tests and benchmarks, which
// compare the sets with each other.
BlendKernel KernelOf(KernelSet set, std::uint32_t mode);

// The solid fill and the transparency companions of the family.
void FillPixels(std::uint8_t* dst, std::int32_t width, std::int32_t height, std::int32_t pitch, std::uint32_t value);
void SetTransparency(std::uint8_t* dst, std::int32_t width, std::int32_t height, std::int32_t pitch, std::uint8_t t);

// The fixed tables of the per-pixel form.
// M(v, k) = floor(v * k / 255), S(v, L) = floor(v * L / 256) for L in 0 ... 256
// (a level outside that range is clamped to it).
std::uint8_t TableM(std::uint8_t v, std::uint8_t k);
std::uint8_t TableS(std::uint8_t v, std::int32_t level);

} // namespace DxDraw
