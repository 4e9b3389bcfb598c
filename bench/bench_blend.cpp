// Blend kernel speed on a full 800 x 600 screen: every operation with and
// without source alpha, in every kernel set the processor runs, beside memcpy
// of the same bytes and beside pixman doing the nearest equivalent work (SRC
// for the copy, OVER for the source-alpha copy, OVER with a solid mask for
// opacity, ADD for add). pixman is a peer for speed only: it works on
// premultiplied alpha, we on the transparency byte, so its buffers are
// prepared separately and its results are not compared.
//
// After the usual table a summary prints each ratio as time(ours) /
// time(peer): 1.00 is the same speed, below 1.00 we are faster.
//   bench_blend [--benchmark_repetitions=N] [--benchmark_filter=...]
// With repetitions the fastest repetition is used for the ratios.
#include "dxdraw/blend.h"

#include <benchmark/benchmark.h>
#include <pixman.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace DxDraw;

constexpr int kWidth = 800;
constexpr int kHeight = 600;
constexpr int kPitch = kWidth * 4;
constexpr std::size_t kBytes = static_cast<std::size_t>(kPitch) * kHeight;

// Our pictures: B, G, R, T with random colours and random transparency, so
// that no shortcut for opaque or empty areas helps anyone.
struct Pictures {
    std::vector<std::uint8_t> src, dst, mask;
    // pixman's: premultiplied a8r8g8b8 (B, G, R, A in memory), same colours.
    std::vector<std::uint32_t> peerSrc, peerDst;

    Pictures()
        : src(kBytes)
        , dst(kBytes)
        , mask(kBytes)
        , peerSrc(kWidth * kHeight)
        , peerDst(kWidth * kHeight)
    {
        std::mt19937 random(42);
        for (std::size_t i = 0; i < kBytes; ++i) {
            src[i] = static_cast<std::uint8_t>(random());
            dst[i] = static_cast<std::uint8_t>(random());
            mask[i] = static_cast<std::uint8_t>(random());
        }
        for (std::size_t p = 0; p < peerSrc.size(); ++p) {
            peerSrc[p] = Premultiplied(&src[4 * p]);
            peerDst[p] = Premultiplied(&dst[4 * p]);
        }
    }

    static std::uint32_t Premultiplied(const std::uint8_t* pixel)
    {
        const std::uint32_t alpha = 255u - pixel[3];
        const auto scale = [alpha](std::uint8_t c) { return (c * alpha + 127) / 255; };
        return (alpha << 24) | (scale(pixel[2]) << 16) | (scale(pixel[1]) << 8) | scale(pixel[0]);
    }
};

Pictures& Shared()
{
    static Pictures pictures;
    return pictures;
}

struct Operation {
    const char* name;
    int op;
    int level;
};

// The level of each operation: a middle value where the level matters.
constexpr Operation kOperations[] = {
    { "copy", kOpCopy, 0 },
    { "brightness", kOpBrightness, 384 },
    { "opacity", kOpOpacity, 128 },
    { "add", kOpAdd, 256 },
    { "subtract", kOpSubtract, 256 },
    { "rule", kOpRule, 300 },
    { "xor", kOpXor, 192 },
    { "dest-alpha", kOpDestinationAlpha, 200 },
};

std::string OursName(KernelSet set, const Operation& operation, bool sourceAlpha)
{
    return "ours/" + std::string(KernelSetName(set)) + "/" + operation.name + (sourceAlpha ? "+alpha" : "");
}

void RunOurs(benchmark::State& state, KernelSet set, Operation operation, bool sourceAlpha)
{
    Pictures& pictures = Shared();
    const BlendKernel kernel = KernelOf(set, static_cast<std::uint32_t>(operation.op));
    BlendParams params;
    params.flags = static_cast<std::uint32_t>(operation.op) | (sourceAlpha ? kBlendSourceAlpha : 0);
    params.level = static_cast<std::int16_t>(operation.level);
    params.colour = 0xFFFFFFFFu;
    const std::uint8_t* mask = operation.op == kOpRule ? pictures.mask.data() : nullptr;
    for (auto _ : state) {
        // The whole (even) width in one call, as Blt gives it.
        kernel(pictures.dst.data(), pictures.src.data(), mask, kWidth, &params, kPitch, kPitch, kPitch, kHeight);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}

void RunMemcpy(benchmark::State& state)
{
    Pictures& pictures = Shared();
    for (auto _ : state) {
        std::memcpy(pictures.dst.data(), pictures.src.data(), kBytes);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}

struct Peer {
    const char* name;
    pixman_op_t op;
    bool solidMask; // a solid mask of alpha one half: pixman's opacity
};

constexpr Peer kPeers[] = {
    { "SRC", PIXMAN_OP_SRC, false },
    { "OVER", PIXMAN_OP_OVER, false },
    { "OVER-solid-mask", PIXMAN_OP_OVER, true },
    { "ADD", PIXMAN_OP_ADD, false },
};

void RunPixman(benchmark::State& state, Peer peer)
{
    Pictures& pictures = Shared();
    pixman_image_t* src = pixman_image_create_bits(PIXMAN_a8r8g8b8, kWidth, kHeight, pictures.peerSrc.data(), kPitch);
    pixman_image_t* dst = pixman_image_create_bits(PIXMAN_a8r8g8b8, kWidth, kHeight, pictures.peerDst.data(), kPitch);
    pixman_image_t* mask = nullptr;
    if (peer.solidMask) {
        const pixman_color_t half = { 0x8000, 0x8000, 0x8000, 0x8000 };
        mask = pixman_image_create_solid_fill(&half);
    }
    for (auto _ : state) {
        pixman_image_composite32(peer.op, src, mask, dst, 0, 0, 0, 0, 0, 0, kWidth, kHeight);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
    if (mask != nullptr)
        pixman_image_unref(mask);
    pixman_image_unref(dst);
    pixman_image_unref(src);
}

// Keeps the fastest real time of every benchmark while the console reporter
// prints as usual.
class Collector : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            if (run.error_occurred || run.run_type != Run::RT_Iteration)
                continue;
            const double microseconds = run.GetAdjustedRealTime();
            auto [entry, added] = m_times.emplace(run.run_name.function_name, microseconds);
            if (!added && microseconds < entry->second)
                entry->second = microseconds;
        }
        ConsoleReporter::ReportRuns(runs);
    }

    const double* Time(const std::string& name) const
    {
        const auto found = m_times.find(name);
        return found == m_times.end() ? nullptr : &found->second;
    }

private:
    std::map<std::string, double> m_times;
};

void PrintRatio(const Collector& times, const std::string& ours, const std::string& peer, const char* label)
{
    const double* a = times.Time(ours);
    const double* b = times.Time(peer);
    if (a == nullptr || b == nullptr)
        return;
    std::printf("  %-28s %9.1f us  %-24s %9.1f us  %5.2f%s\n", label, *a, peer.c_str(), *b, *a / *b,
        *a <= *b ? "" : "  (slower)");
}

void PrintSummary(const Collector& times)
{
    const KernelSet active = ActiveKernelSet();
    std::printf("\nRatios on %d x %d, time(ours) / time(peer), below 1.00 = ours faster; active set %s\n", kWidth,
        kHeight, std::string(KernelSetName(active)).c_str());
    std::vector<KernelSet> sets;
    for (KernelSet set : { KernelSet::PerPixel, KernelSet::Sse2, KernelSet::Avx2 }) {
        if (KernelSetSupported(set))
            sets.push_back(set);
    }
    std::printf("\n  Against pixman:\n");
    for (KernelSet set : sets) {
        const std::string name(KernelSetName(set));
        PrintRatio(times, OursName(set, kOperations[0], false), "pixman/SRC", (name + " copy").c_str());
        PrintRatio(times, OursName(set, kOperations[0], true), "pixman/OVER", (name + " copy+alpha").c_str());
        PrintRatio(times, OursName(set, kOperations[2], false), "pixman/OVER-solid-mask", (name + " opacity").c_str());
        PrintRatio(times, OursName(set, kOperations[3], false), "pixman/ADD", (name + " add").c_str());
    }
    std::printf("\n  Against memcpy of the same bytes:\n");
    for (KernelSet set : sets) {
        for (const Operation& operation : kOperations) {
            for (bool sourceAlpha : { false, true }) {
                const std::string label
                    = std::string(KernelSetName(set)) + " " + operation.name + (sourceAlpha ? "+alpha" : "");
                PrintRatio(times, OursName(set, operation, sourceAlpha), "memcpy", label.c_str());
            }
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    for (KernelSet set : { KernelSet::PerPixel, KernelSet::Sse2, KernelSet::Avx2 }) {
        if (!KernelSetSupported(set))
            continue;
        for (const Operation& operation : kOperations) {
            for (bool sourceAlpha : { false, true }) {
                benchmark::RegisterBenchmark(
                    OursName(set, operation, sourceAlpha).c_str(), RunOurs, set, operation, sourceAlpha)
                    ->Unit(benchmark::kMicrosecond);
            }
        }
    }
    benchmark::RegisterBenchmark("memcpy", RunMemcpy)->Unit(benchmark::kMicrosecond);
    for (const Peer& peer : kPeers) {
        benchmark::RegisterBenchmark((std::string("pixman/") + peer.name).c_str(), RunPixman, peer)
            ->Unit(benchmark::kMicrosecond);
    }

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    Collector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);
    PrintSummary(collector);
    benchmark::Shutdown();
    return 0;
}
