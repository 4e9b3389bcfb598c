// DrawChar in glyphs per second: normal and 4x anti-aliased glyphs, the face
// alone and with shadow and edge (18 composites of one rendered glyph), as
// the message window draws them at its 32-pixel font.
#include "dxdraw/text.h"

#include <benchmark/benchmark.h>

#include <string_view>

namespace {

using namespace DxDraw;

// Every character differs from the one before, so each DrawChar renders its
// glyph once and composites it once per stroke.
constexpr std::u16string_view kText = u"吾輩は猫である。名前はまだ無い。どこで生れたかとんと見当がつかぬ。"
                                      u"何でも薄暗いじめじめした所でニャーニャー泣いていた事だけは記憶している。";

void DrawGlyphs(benchmark::State& state, std::uint32_t flags)
{
    SurfacePtr surface(CreateSurface(32));
    surface->Create(800, 200);
    surface->Fill(nullptr, 0, 0);
    FontPtr font = NewFont(u"ＭＳ 明朝", 32);
    TextStyle style;
    style.Init();
    style.pFont = font.get();
    style.flags = flags;
    style.area = { 8, 8, 776, 184 };
    std::size_t next = 0;
    for (auto _ : state) {
        // Back to the top before the area fills, so that no scroll is timed.
        if (style.cursorY + 32 > style.area.Height() - 32) {
            style.cursorX = 0;
            style.cursorY = 0;
        }
        surface->DrawChar(style, kText[next]);
        next = next + 1 == kText.size() ? 0 : next + 1;
    }
    benchmark::DoNotOptimize(surface->Bits());
    state.SetItemsProcessed(state.iterations());
    state.counters["glyphs/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_DrawCharNormal(benchmark::State& state)
{
    DrawGlyphs(state, 0);
}
BENCHMARK(BM_DrawCharNormal)->Unit(benchmark::kMicrosecond);

void BM_DrawCharNormalShadowEdge(benchmark::State& state)
{
    DrawGlyphs(state, kTextShadow | kTextEdge);
}
BENCHMARK(BM_DrawCharNormalShadowEdge)->Unit(benchmark::kMicrosecond);

void BM_DrawCharAntiAliased(benchmark::State& state)
{
    DrawGlyphs(state, kTextAntiAliased);
}
BENCHMARK(BM_DrawCharAntiAliased)->Unit(benchmark::kMicrosecond);

void BM_DrawCharAntiAliasedShadowEdge(benchmark::State& state)
{
    DrawGlyphs(state, kTextAntiAliased | kTextShadow | kTextEdge);
}
BENCHMARK(BM_DrawCharAntiAliasedShadowEdge)->Unit(benchmark::kMicrosecond);

} // namespace
