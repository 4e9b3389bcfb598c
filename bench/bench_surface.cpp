// Surface operations around the kernels: the save thumbnail's scaling of a
// whole screen, and a full-screen transfer through Blt (clipping and kernel
// choice included) beside memcpy of the same bytes.
#include "dxdraw/surface.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <random>

namespace {

using DxDraw::SurfacePtr;

SurfacePtr Screen()
{
    SurfacePtr s(DxDraw::CreateSurface(32));
    s->Create(800, 600);
    std::mt19937 random(7);
    for (std::int32_t y = 0; y < 600; ++y) {
        std::uint8_t* row = s->PixelAddress(0, y);
        for (int i = 0; i < 800 * 4; ++i)
            row[i] = static_cast<std::uint8_t>((y + i / 4) ^ (random() & 15));
    }
    return s;
}

void BM_StretchToThumbnail(benchmark::State& state)
{
    SurfacePtr screen = Screen();
    SurfacePtr thumb(DxDraw::CreateSurface(32));
    thumb->Create(140, 105);
    for (auto _ : state) {
        thumb->StretchBlt({0, 0, 140, 105}, screen.get(), {0, 0, 800, 600});
        benchmark::DoNotOptimize(thumb->Bits());
    }
    state.SetItemsProcessed(state.iterations() * 800 * 600);
}
BENCHMARK(BM_StretchToThumbnail)->Unit(benchmark::kMicrosecond);

void BM_BltFullScreenCopy(benchmark::State& state)
{
    SurfacePtr source = Screen();
    SurfacePtr dest(DxDraw::CreateSurface(32));
    dest->Create(800, 600);
    for (auto _ : state) {
        dest->Blt(0, 0, source.get(), nullptr, nullptr, nullptr);
        benchmark::DoNotOptimize(dest->Bits());
    }
    state.SetBytesProcessed(state.iterations() * 800 * 600 * 4);
}
BENCHMARK(BM_BltFullScreenCopy)->Unit(benchmark::kMicrosecond);

void BM_MemcpyFullScreen(benchmark::State& state)
{
    SurfacePtr source = Screen();
    SurfacePtr dest(DxDraw::CreateSurface(32));
    dest->Create(800, 600);
    for (auto _ : state) {
        std::memcpy(dest->Bits(), source->Bits(), 800 * 600 * 4);
        benchmark::DoNotOptimize(dest->Bits());
    }
    state.SetBytesProcessed(state.iterations() * 800 * 600 * 4);
}
BENCHMARK(BM_MemcpyFullScreen)->Unit(benchmark::kMicrosecond);

} // namespace
