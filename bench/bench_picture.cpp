// Picture decoding at full screen (800 x 600): the engine's path beside the
// library alone on the same bytes, so the cost of our side shows.
//
//   BM_JpegDecodeAndLoad   DecodeJpeg (24-bit bitmap) + LoadDib into a surface
//   BM_JpegBare            libjpeg alone into an RGB buffer
//   BM_PngDecodeAndLoad    DecodePng + LoadDib; arg 0 an RGB file, 1 an RGBA file
//   BM_PngBare             libpng alone into a buffer; the same two files
// items/s counts pixels. The pictures are made at start by the test writers
// (picture_testing.h): a sky gradient with a little noise, flat panels and a
// noisy band, as game art tends to be; JPEG at quality 90.
#include "dxdraw/picture/decoders.h"
#include "dxdraw/picture/picture_testing.h"
#include "dxdraw/surface.h"

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using DxDraw::testing::PngColour;

constexpr std::uint32_t kWidth = 800;
constexpr std::uint32_t kHeight = 600;
constexpr std::int64_t kPixels = std::int64_t{kWidth} * kHeight;

// Top-down rows of `channels` (3: RGB, 4: RGBA) samples.
Bytes MakePicture(int channels)
{
    Bytes p(std::size_t{kWidth} * kHeight * channels);
    std::mt19937 rng(42);
    for (std::uint32_t y = 0; y < kHeight; ++y) {
        for (std::uint32_t x = 0; x < kWidth; ++x) {
            std::uint8_t* px = &p[(std::size_t{y} * kWidth + x) * channels];
            int r, g, b;
            if (y < 250) {
                const int n = static_cast<int>(rng() % 5) - 2;
                r = 60 + static_cast<int>(y) / 8 + n;
                g = 120 + static_cast<int>(x) / 16 + n;
                b = 200 - static_cast<int>(y) / 4 + n;
            } else if (y < 450) {
                const int panel = static_cast<int>(x / 100 + y / 80) % 3;
                r = 90;
                g = 180 - panel * 40;
                b = panel * 60;
            } else {
                const int n = static_cast<int>(rng() % 64);
                r = 30 + static_cast<int>((x ^ y) % 32);
                g = 70 + n / 2;
                b = 40 + n;
            }
            px[0] = static_cast<std::uint8_t>(r);
            px[1] = static_cast<std::uint8_t>(g);
            px[2] = static_cast<std::uint8_t>(b);
            if (channels == 4) {
                const int dx = static_cast<int>(x) - 600;
                const int dy = static_cast<int>(y) - 200;
                const int d = dx * dx + dy * dy;
                px[3] = static_cast<std::uint8_t>(d < 90 * 90 ? 0 : d < 100 * 100 ? (d - 8100) * 255 / 1900 : 255);
            }
        }
    }
    return p;
}

const Bytes& JpegFile()
{
    static const Bytes file = DxDraw::testing::EncodeJpegForTest(kWidth, kHeight, 3, MakePicture(3), 90);
    return file;
}

const Bytes& PngFile(bool alpha)
{
    static const Bytes rgb = [] {
        DxDraw::testing::PngPicture p;
        p.width = kWidth;
        p.height = kHeight;
        p.colour = PngColour::Rgb;
        p.pixels = MakePicture(3);
        return DxDraw::testing::EncodePngForTest(p);
    }();
    static const Bytes rgba = [] {
        DxDraw::testing::PngPicture p;
        p.width = kWidth;
        p.height = kHeight;
        p.colour = PngColour::Rgba;
        p.pixels = MakePicture(4);
        return DxDraw::testing::EncodePngForTest(p);
    }();
    return alpha ? rgba : rgb;
}

void Finish(benchmark::State& state, const Bytes& file)
{
    state.SetItemsProcessed(state.iterations() * kPixels);
    state.counters["file_bytes"] = static_cast<double>(file.size());
}

void BM_JpegDecodeAndLoad(benchmark::State& state)
{
    const Bytes& file = JpegFile();
    DxDraw::SurfacePtr surface(DxDraw::CreateSurface(32));
    for (auto _ : state) {
        std::optional<DxDraw::DibBlock> dib = DxDraw::DecodeJpeg(file);
        if (!dib || !surface->LoadDib(dib->bytes(), std::nullopt)) {
            state.SkipWithError("decode failed");
            break;
        }
        benchmark::DoNotOptimize(surface->Bits());
    }
    Finish(state, file);
}
BENCHMARK(BM_JpegDecodeAndLoad)->Unit(benchmark::kMillisecond);

void BM_JpegBare(benchmark::State& state)
{
    const Bytes& file = JpegFile();
    for (auto _ : state) {
        if (DxDraw::testing::BareJpegDecode(file) != std::size_t(kPixels) * 3) {
            state.SkipWithError("decode failed");
            break;
        }
    }
    Finish(state, file);
}
BENCHMARK(BM_JpegBare)->Unit(benchmark::kMillisecond);

void BM_PngDecodeAndLoad(benchmark::State& state)
{
    const Bytes& file = PngFile(state.range(0) != 0);
    DxDraw::SurfacePtr surface(DxDraw::CreateSurface(32));
    for (auto _ : state) {
        std::optional<DxDraw::DibBlock> dib = DxDraw::DecodePng(file);
        if (!dib || !surface->LoadDib(dib->bytes(), std::nullopt)) {
            state.SkipWithError("decode failed");
            break;
        }
        benchmark::DoNotOptimize(surface->Bits());
    }
    Finish(state, file);
}
BENCHMARK(BM_PngDecodeAndLoad)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_PngBare(benchmark::State& state)
{
    const bool alpha = state.range(0) != 0;
    const Bytes& file = PngFile(alpha);
    for (auto _ : state) {
        if (DxDraw::testing::BarePngDecode(file) != std::size_t(kPixels) * (alpha ? 4 : 3)) {
            state.SkipWithError("decode failed");
            break;
        }
    }
    Finish(state, file);
}
BENCHMARK(BM_PngBare)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace
