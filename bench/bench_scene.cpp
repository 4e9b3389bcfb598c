// Frames per second of a headless 800 x 600 scene: a backdrop and 28 pictures
// (some blended) standing still while one small sprite moves every frame.
// The screen renders only the dirty rectangles; the same scene is then forced
// to redraw everything each frame. The summary prints both rates and how much
// the dirty rectangles save.
#include "dxdraw/screen.h"
#include "dxdraw/sprite.h"
#include "platform/headless/headless_platform.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>

namespace {

using namespace DxDraw;

constexpr std::int32_t kWidth = 800;
constexpr std::int32_t kHeight = 600;
constexpr int kSprites = 30; // the backdrop, 28 still pictures, one mover

DxSurface* Picture(std::int32_t width, std::int32_t height, std::mt19937& random, bool soft)
{
    DxSurface* surface = CreateSurface(32);
    surface->Create(width, height);
    const std::uint32_t base = random() & 0xFFFFFF;
    for (std::int32_t y = 0; y < height; ++y) {
        for (std::int32_t x = 0; x < width; ++x) {
            std::uint32_t v = base ^ static_cast<std::uint32_t>((x * 3) ^ (y * 5));
            v &= 0xFFFFFF;
            if (soft)
                v |= static_cast<std::uint32_t>((x + y) * 255 / (width + height)) << 24;
            std::memcpy(surface->PixelAddress(x, y), &v, 4);
        }
    }
    return surface;
}

DxSprite* Add(DxScreenSurface32& screen, DxSurface* surface, std::int32_t x, std::int32_t y, std::uint32_t flags,
    std::int16_t level)
{
    auto* sprite = new DxSprite(flags);
    sprite->SetSurface(surface, SurfaceOwnership::Owned);
    sprite->SetCell(nullptr);
    sprite->SetBlendLevel(level);
    sprite->SetPosition(x, y);
    screen.AddChild(sprite);
    return sprite;
}

struct SceneFixture {
    SceneFixture() : screen(MakeView<DxScreenSurface32>(platform.GetDisplay()))
    {
        std::mt19937 random(11);
        screen->CreateBackBuffer(kWidth, kHeight);
        Add(*screen, Picture(kWidth, kHeight, random, false), 0, 0, 0, 256);
        for (int i = 0; i < kSprites - 2; ++i) {
            const std::int32_t w = 60 + static_cast<std::int32_t>(random() % 120);
            const std::int32_t h = 60 + static_cast<std::int32_t>(random() % 120);
            const std::int32_t x = static_cast<std::int32_t>(random() % (kWidth - w));
            const std::int32_t y = static_cast<std::int32_t>(random() % (kHeight - h));
            // A third copied, a third at an opacity, a third with source alpha.
            const std::uint32_t flags = i % 3 == 0 ? 0u : i % 3 == 1 ? std::uint32_t(kOpOpacity) : kBlendSourceAlpha;
            Add(*screen, Picture(w, h, random, i % 3 == 2), x, y, flags, 160);
        }
        mover = Add(*screen, Picture(32, 32, random, true), 0, 0, kBlendSourceAlpha, 256);
        screen->Draw(nullptr);
    }

    // Moves the small sprite a few pixels along a path across the screen.
    void Step()
    {
        ++frame;
        mover->SetPosition(static_cast<std::int32_t>((frame * 7) % (kWidth - 32)),
            static_cast<std::int32_t>((frame * 3) % (kHeight - 32)));
    }

    kestrel::platform::HeadlessPlatform platform;
    ViewPtr<DxScreenSurface32> screen;
    DxSprite* mover = nullptr;
    int frame = 0;
};

void RunScene(benchmark::State& state, RedrawPolicy policy)
{
    SceneFixture scene;
    scene.screen->SetRedrawPolicy(policy);
    for (auto _ : state) {
        scene.Step();
        scene.screen->Draw(nullptr);
    }
    state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["px/frame"] = static_cast<double>(scene.platform.PresentedPixels()) /
        static_cast<double>(state.iterations() + 1);
}

// Keeps the real time of every benchmark while the console reporter prints
// as usual.
class Collector : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            if (!run.error_occurred && run.run_type == Run::RT_Iteration)
                m_microseconds[run.run_name.function_name] = run.GetAdjustedRealTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }

    double Microseconds(const std::string& name) const
    {
        const auto found = m_microseconds.find(name);
        return found == m_microseconds.end() ? 0.0 : found->second;
    }

private:
    std::map<std::string, double> m_microseconds;
};

} // namespace

int main(int argc, char** argv)
{
    benchmark::RegisterBenchmark("scene/dirty_rectangles", RunScene, RedrawPolicy::DirtyRectangles)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("scene/full_redraw", RunScene, RedrawPolicy::Everything)
        ->Unit(benchmark::kMicrosecond);

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    Collector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);

    const double dirty = collector.Microseconds("scene/dirty_rectangles");
    const double full = collector.Microseconds("scene/full_redraw");
    if (dirty > 0.0 && full > 0.0) {
        std::printf("\n%d x %d, %d sprites, one 32 x 32 sprite moving per frame:\n", kWidth, kHeight, kSprites);
        std::printf("  dirty rectangles  %10.0f frames/s  (%8.1f us a frame)\n", 1e6 / dirty, dirty);
        std::printf("  full redraw       %10.0f frames/s  (%8.1f us a frame)\n", 1e6 / full, full);
        std::printf("  dirty rectangles are %.1f times faster\n", full / dirty);
    }
    benchmark::Shutdown();
    return 0;
}
