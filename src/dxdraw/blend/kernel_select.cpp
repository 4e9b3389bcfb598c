// Which kernel set runs: chosen once, on first use, from what the processor
// offers (AVX2, else SSE2, which every x86-64 has), unless the paired kernels
// are switched off by KESTREL_NO_SIMD=1 in the environment or by option -M
// (ForcePerPixelKernels). Other processors have the per-pixel kernels only.
#include "dxdraw/blend.h"
#include "dxdraw/blend/kernels.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#if defined(_MSC_VER) && (defined(_M_X64) || defined(_M_IX86))
#include <intrin.h>
#endif

namespace DxDraw {

namespace {

KernelSet DetectBestSet()
{
#if defined(KESTREL_HAVE_PAIRED_KERNELS) && (defined(__GNUC__) || defined(__clang__))
    __builtin_cpu_init();
    // The check covers the operating system's support for the 256-bit state too.
    if (__builtin_cpu_supports("avx2"))
        return KernelSet::Avx2;
    if (__builtin_cpu_supports("sse2"))
        return KernelSet::Sse2;
    return KernelSet::PerPixel;
#elif defined(KESTREL_HAVE_PAIRED_KERNELS) && defined(_MSC_VER)
    // AVX2 needs the instruction set (leaf 7) and the operating system saving
    // the 256-bit registers (OSXSAVE, and XCR0 bits 1 and 2).
    int info[4] = {};
    __cpuid(info, 0);
    const int highest = info[0];
    __cpuid(info, 1);
    const bool avx = (info[2] & (1 << 28)) != 0;
    const bool osSavesYmm = (info[2] & (1 << 27)) != 0 && (_xgetbv(0) & 6) == 6;
    if (highest >= 7 && avx && osSavesYmm) {
        __cpuidex(info, 7, 0);
        if ((info[1] & (1 << 5)) != 0)
            return KernelSet::Avx2;
    }
    return KernelSet::Sse2; // every x86-64 processor has SSE2
#else
    return KernelSet::PerPixel;
#endif
}

bool SwitchedOffByEnvironment()
{
    const char* value = std::getenv("KESTREL_NO_SIMD");
    return value != nullptr && std::strcmp(value, "1") == 0;
}

struct Choice {
    KernelSet best;
    bool switchedOff;
};

const Choice& StartupChoice()
{
    static const Choice choice { DetectBestSet(), SwitchedOffByEnvironment() };
    return choice;
}

std::atomic<bool> g_forcePerPixel { false };

const KernelTable* TableOf(KernelSet set)
{
    switch (set) {
    case KernelSet::PerPixel:
        return &kPerPixelKernels;
#if defined(KESTREL_HAVE_PAIRED_KERNELS)
    case KernelSet::Sse2:
        return &kSse2Kernels;
    case KernelSet::Avx2:
        return &kAvx2Kernels;
#endif
    default:
        return nullptr;
    }
}

} // namespace

BlendKernel PerPixelKernel(std::uint32_t mode)
{
    return mode < kModeCount ? kPerPixelKernels.entries[mode] : nullptr;
}

BlendKernel PairedKernel(std::uint32_t mode)
{
    const KernelSet set = ActiveKernelSet();
    if (set == KernelSet::PerPixel || mode >= kModeCount)
        return nullptr;
    return TableOf(set)->entries[mode];
}

KernelSet ActiveKernelSet()
{
    const Choice& choice = StartupChoice();
    if (choice.switchedOff || g_forcePerPixel.load(std::memory_order_relaxed))
        return KernelSet::PerPixel;
    return choice.best;
}

std::string_view KernelSetName(KernelSet set)
{
    switch (set) {
    case KernelSet::PerPixel:
        return "per-pixel";
    case KernelSet::Sse2:
        return "SSE2";
    case KernelSet::Avx2:
        return "AVX2";
    }
    return "unknown";
}

void ForcePerPixelKernels(bool force)
{
    g_forcePerPixel.store(force, std::memory_order_relaxed);
}

bool KernelSetSupported(KernelSet set)
{
    const KernelSet best = StartupChoice().best;
    switch (set) {
    case KernelSet::PerPixel:
        return true;
    case KernelSet::Sse2:
        return best == KernelSet::Sse2 || best == KernelSet::Avx2;
    case KernelSet::Avx2:
        return best == KernelSet::Avx2;
    }
    return false;
}

BlendKernel KernelOf(KernelSet set, std::uint32_t mode)
{
    if (mode >= kModeCount || !KernelSetSupported(set))
        return nullptr;
    const KernelTable* table = TableOf(set);
    return table != nullptr ? table->entries[mode] : nullptr;
}

} // namespace DxDraw
