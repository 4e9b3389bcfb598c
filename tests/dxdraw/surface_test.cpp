#include "core/file.h"
#include "dxdraw/surface.h"
#include "platform/headless/headless_platform.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

namespace DxDraw {
namespace {

std::uint32_t PixelAt(const DxImage& image, std::int32_t x, std::int32_t y)
{
    std::uint32_t v;
    std::memcpy(&v, image.PixelAddress(x, y), 4);
    return v;
}

void SetPixel(DxImage& image, std::int32_t x, std::int32_t y, std::uint32_t v)
{
    std::memcpy(image.PixelAddress(x, y), &v, 4);
}

SurfacePtr MakeSurface(std::int32_t width, std::int32_t height)
{
    SurfacePtr surface(CreateSurface(32));
    EXPECT_TRUE(surface->Create(width, height));
    return surface;
}

// A source whose pixel (x, y) holds x + 16 * y in blue and 0x40 in T.
SurfacePtr Numbered(std::int32_t width, std::int32_t height)
{
    SurfacePtr surface = MakeSurface(width, height);
    for (std::int32_t y = 0; y < height; ++y)
        for (std::int32_t x = 0; x < width; ++x)
            SetPixel(*surface, x, y, 0x40000000u | std::uint32_t(x + 16 * y));
    return surface;
}

std::filesystem::path TempPath(const std::string& name)
{
    return std::filesystem::temp_directory_path() /
        ("kestrel_surface_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + name);
}

TEST(Surface, NewSurfacesAreOpaqueBlackInBothRowOrders)
{
    for (std::int32_t height : {3, -3}) {
        SurfacePtr s = MakeSurface(5, height);
        EXPECT_EQ(s->Pitch(), height > 0 ? -20 : 20);
        EXPECT_EQ(s->RowBytes(), 20u);
        EXPECT_EQ(s->ClipRect(), (Rect{0, 0, 5, 3}));
        EXPECT_TRUE(s->DirtyRect().Empty());
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 5; ++x)
                EXPECT_EQ(PixelAt(*s, x, y), 0u);
        // Row 0 is the top row: the last stored row of a bottom-up image.
        const std::ptrdiff_t topRow = s->PixelAddress(0, 0) - s->Bits();
        EXPECT_EQ(topRow, height > 0 ? 40 : 0);
        EXPECT_EQ(s->PixelAddress(1, 1) - s->PixelAddress(0, 0), s->Pitch() + 4);
    }
    SurfacePtr s(CreateSurface(32));
    EXPECT_FALSE(s->Create(0, 5));
    EXPECT_FALSE(s->Create(20000, 5));
}

TEST(Surface, FillAndSetAlpha)
{
    SurfacePtr s = MakeSurface(4, 4);
    s->Fill(nullptr, 0x123456, 255);
    const std::uint8_t* p = s->PixelAddress(3, 2);
    EXPECT_EQ(p[0], 0x56);
    EXPECT_EQ(p[1], 0x34);
    EXPECT_EQ(p[2], 0x12);
    EXPECT_EQ(p[3], 0x00);
    EXPECT_EQ(s->DirtyRect(), (Rect{0, 0, 4, 4}));

    s->ClearDirty();
    s->FillBox(1, 1, 2, 2, 0xABCDEF12u, 0); // the top byte of the colour is not used
    EXPECT_EQ(PixelAt(*s, 1, 1), 0xFFCDEF12u);
    EXPECT_EQ(PixelAt(*s, 0, 0), 0x00123456u);
    EXPECT_EQ(s->DirtyRect(), (Rect{1, 1, 3, 3}));

    const Rect right{2, 0, 4, 4};
    s->SetAlpha(&right, 0x40);
    EXPECT_EQ(PixelAt(*s, 3, 0), 0xBF123456u);
    EXPECT_EQ(PixelAt(*s, 2, 1), 0xBFCDEF12u);
    EXPECT_EQ(PixelAt(*s, 1, 1), 0xFFCDEF12u);

    const Rect past{3, 3, 10, 10}; // cut to the surface, never written past it
    s->Fill(&past, 0x010203, 255);
    EXPECT_EQ(PixelAt(*s, 3, 3), 0x00010203u);
}

TEST(Surface, BltClipsAndMovesTheSourceOrigin)
{
    SurfacePtr source = Numbered(10, 10);
    SurfacePtr dest = MakeSurface(100, 100);
    const Rect clip{0, 0, 100, 100};
    ASSERT_TRUE(dest->Blt(-3, -4, source.get(), nullptr, &clip, nullptr));
    EXPECT_EQ(PixelAt(*dest, 0, 0), 0x40000000u | (3 + 16 * 4));
    EXPECT_EQ(PixelAt(*dest, 6, 5), 0x40000000u | (9 + 16 * 9));
    EXPECT_EQ(PixelAt(*dest, 7, 5), 0u);
    EXPECT_EQ(PixelAt(*dest, 6, 6), 0u);
    EXPECT_EQ(dest->DirtyRect(), (Rect{0, 0, 7, 6}));

    // Entirely outside the clip: success, nothing drawn, dirty unchanged.
    dest->ClearDirty();
    EXPECT_TRUE(dest->Blt(200, 200, source.get(), nullptr, nullptr, nullptr));
    EXPECT_TRUE(dest->DirtyRect().Empty());

    // No source, or a source rectangle outside the source's clip: failure.
    EXPECT_FALSE(dest->Blt(0, 0, nullptr, nullptr, nullptr, nullptr));
    const Rect away{20, 20, 30, 30};
    EXPECT_FALSE(dest->Blt(0, 0, source.get(), &away, nullptr, nullptr));

    // A source rectangle reaching past the picture is cut to it.
    const Rect overhang{8, 8, 12, 12};
    dest->Fill(nullptr, 0, 255);
    EXPECT_TRUE(dest->Blt(50, 50, source.get(), &overhang, nullptr, nullptr));
    EXPECT_EQ(PixelAt(*dest, 51, 51), 0x40000000u | (9 + 16 * 9));
    EXPECT_EQ(PixelAt(*dest, 52, 52), 0u);

    // The drawing origin moves where pixels land.
    dest->Fill(nullptr, 0, 255);
    dest->SetOrigin(10, 20);
    const Rect one{0, 0, 1, 1};
    EXPECT_TRUE(dest->Blt(0, 0, source.get(), &one, nullptr, nullptr));
    EXPECT_EQ(PixelAt(*dest, 10, 20), 0x40000000u);
    dest->SetOrigin(95, 95); // and never outside the surface
    EXPECT_TRUE(dest->Blt(0, 0, source.get(), nullptr, nullptr, nullptr));
    EXPECT_EQ(PixelAt(*dest, 99, 99), 0x40000000u | (4 + 16 * 4));
}

TEST(Surface, BltModesAndShortcuts)
{
    SurfacePtr source = Numbered(4, 4);
    SurfacePtr dest = MakeSurface(4, 4);
    struct Case {
        std::uint32_t flags;
        std::int16_t level;
        bool result;
        std::uint32_t pixel11; // destination pixel (1, 1) afterwards, starting from 0x00808080
    };
    const Case cases[] = {
        {kOpOpacity, 0, true, 0x00808080u},                      // level 0 draws nothing
        {kOpOpacity, 256, true, 0x40000000u | 17},               // level 256 is an exact copy, T included
        {kOpOpacity | kBlendNoShortcuts, 0, true, 0x40000000u | 0x808080u}, // no shortcut: T copied, colour kept
        {6, 128, false, 0x00808080u},                             // operation 6 has no kernel
        {0x40, 0, false, 0x00808080u},                            // nor do modes from 64 on
    };
    for (const Case& c : cases) {
        dest->Fill(nullptr, 0x808080, 255);
        BlendParams params;
        params.flags = c.flags;
        params.level = c.level;
        EXPECT_EQ(dest->Blt(0, 0, source.get(), nullptr, nullptr, &params), c.result) << c.flags;
        EXPECT_EQ(PixelAt(*dest, 1, 1), c.pixel11) << std::hex << c.flags << " " << c.level;
    }
    // The rule transition needs its mask under the whole source area.
    BlendParams rule;
    rule.flags = kOpRule;
    rule.level = 256;
    EXPECT_FALSE(dest->Blt(0, 0, source.get(), nullptr, nullptr, &rule));
    SurfacePtr mask = MakeSurface(2, 2);
    rule.mask = mask.get();
    EXPECT_FALSE(dest->Blt(0, 0, source.get(), nullptr, nullptr, &rule));
    SurfacePtr fullMask = MakeSurface(4, 4);
    fullMask->Fill(nullptr, 0xFFFFFF, 255); // mask 255 at level 256 shows the source
    rule.mask = fullMask.get();
    EXPECT_TRUE(dest->Blt(0, 0, source.get(), nullptr, nullptr, &rule));
    EXPECT_EQ(PixelAt(*dest, 1, 1) & 0xFFFFFFu, 17u);
}

TEST(Surface, BltCellUsesTheHotSpot)
{
    SurfacePtr source = Numbered(8, 8);
    SurfacePtr dest = MakeSurface(8, 8);
    const AnimCell cell{2, 2, 1, 1, {4, 4, 6, 6}};
    EXPECT_TRUE(dest->BltCell(3, 3, source.get(), cell, nullptr, nullptr));
    EXPECT_EQ(PixelAt(*dest, 2, 2), 0x40000000u | (4 + 16 * 4));
    EXPECT_EQ(PixelAt(*dest, 3, 3), 0x40000000u | (5 + 16 * 5));
}

TEST(Surface, MarkDirtyUnitesAndClips)
{
    SurfacePtr s = MakeSurface(50, 50);
    s->SetClipRect({0, 0, 40, 40});
    const Rect a{5, 5, 10, 10}, b{30, 2, 60, 8};
    s->MarkDirty(&a);
    s->MarkDirty(&b);
    EXPECT_EQ(s->DirtyRect(), (Rect{5, 2, 40, 10}));
    s->MarkDirty(nullptr);
    EXPECT_EQ(s->DirtyRect(), (Rect{0, 0, 50, 50}));
}

TEST(Surface, CloneKinds)
{
    SurfacePtr source = Numbered(6, 5);
    DxSurface* same = source->Clone(0, nullptr);
    EXPECT_EQ(same, source.get());
    EXPECT_EQ(source->RefCount(), 2);
    same->Release();

    SurfacePtr blank(source->Clone(1, nullptr));
    ASSERT_TRUE(blank);
    EXPECT_EQ(blank->Width(), 6);
    EXPECT_EQ(blank->Height(), 5);
    EXPECT_EQ(PixelAt(*blank, 2, 2), 0u);

    const Rect part{1, 2, 4, 5};
    SurfacePtr copy(source->Clone(2, &part));
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->Width(), 3);
    EXPECT_EQ(copy->AbsHeight(), 3);
    EXPECT_EQ(PixelAt(*copy, 0, 0), PixelAt(*source, 1, 2)); // transparency bytes included
    EXPECT_EQ(PixelAt(*copy, 2, 2), PixelAt(*source, 3, 4));

    EXPECT_EQ(source->Clone(3, nullptr), nullptr);
}

TEST(Surface, StretchAveragesWhenNarrowerAndRepeatsWhenWider)
{
    SurfacePtr source = MakeSurface(4, 1);
    const std::uint32_t values[] = {0x10203040u, 0x30405060u, 0x00000000u, 0xFF0000FFu};
    for (int x = 0; x < 4; ++x)
        SetPixel(*source, x, 0, values[x]);
    SurfacePtr narrow = MakeSurface(2, 1);
    narrow->StretchBlt({0, 0, 2, 1}, source.get(), {0, 0, 4, 1});
    EXPECT_EQ(PixelAt(*narrow, 0, 0), 0x20304050u);
    EXPECT_EQ(PixelAt(*narrow, 1, 0), 0x7F00007Fu); // each byte truncated

    SurfacePtr wide = MakeSurface(4, 2);
    wide->StretchBlt({0, 0, 4, 2}, narrow.get(), {0, 0, 2, 1});
    for (int y = 0; y < 2; ++y) {
        EXPECT_EQ(PixelAt(*wide, 0, y), 0x20304050u);
        EXPECT_EQ(PixelAt(*wide, 1, y), 0x20304050u);
        EXPECT_EQ(PixelAt(*wide, 2, y), 0x7F00007Fu);
        EXPECT_EQ(PixelAt(*wide, 3, y), 0x7F00007Fu);
    }
    // 800 x 600 to the 140 x 105 of a save thumbnail: every output pixel averages its block.
    SurfacePtr screen = MakeSurface(800, 600);
    screen->Fill(nullptr, 0x204060, 255);
    SurfacePtr thumb = MakeSurface(140, 105);
    thumb->StretchBlt({0, 0, 140, 105}, screen.get(), {0, 0, 800, 600});
    EXPECT_EQ(PixelAt(*thumb, 139, 104), 0x00204060u);
}

std::vector<std::uint8_t> BmpFile(std::int32_t width, std::int32_t height, std::uint16_t bits,
    const std::vector<std::uint8_t>& colours, const std::vector<std::uint8_t>& pixels, std::uint32_t headerSize = 40)
{
    std::vector<std::uint8_t> out(14 + headerSize, 0);
    out[0] = 'B', out[1] = 'M';
    BitmapInfoHeader header;
    header.size = headerSize;
    header.width = width;
    header.height = height;
    header.bitCount = bits;
    header.clrUsed = static_cast<std::uint32_t>(colours.size() / 4);
    WriteInfoHeader(header, &out[14]);
    out.insert(out.end(), colours.begin(), colours.end());
    out.insert(out.end(), pixels.begin(), pixels.end());
    return out;
}

TEST(Surface, LoadDibConvertsEveryDepth)
{
    struct Case {
        const char* what;
        std::vector<std::uint8_t> file;
        std::uint32_t top;    // pixel (0, 0)
        std::uint32_t bottom; // pixel (1, 1)
    };
    const std::vector<std::uint8_t> palette = {1, 2, 3, 0, 10, 20, 30, 0, 100, 110, 120, 0};
    const Case cases[] = {
        // Stored rows are bottom-up: the first row in the file is the bottom one.
        {"32-bit with alpha", BmpFile(2, 2, 32, {}, {1, 2, 3, 255, 4, 5, 6, 128, 7, 8, 9, 0, 10, 11, 12, 255}),
            0xFF090807u, 0x7F060504u},
        {"24-bit", BmpFile(2, 2, 24, {}, {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0}), 0x00090807u,
            0x00060504u},
        {"8-bit palette", BmpFile(2, 2, 8, palette, {0, 1, 0, 0, 2, 0, 0, 0}), 0x00786E64u, 0x001E140Au},
        {"4-bit palette", BmpFile(2, 2, 4, palette, {0x01, 0, 0, 0, 0x20, 0, 0, 0}), 0x00786E64u, 0x001E140Au},
        {"1-bit palette", BmpFile(2, 2, 1, {0, 0, 0, 0, 255, 255, 255, 0}, {0x40, 0, 0, 0, 0x80, 0, 0, 0}),
            0x00FFFFFFu, 0x00FFFFFFu},
        {"16-bit 5-5-5 with bit 15", BmpFile(2, 2, 16, {}, {0, 0, 0x1F, 0x80, 0xE0, 0x03, 0, 0}), 0x0000FF00u,
            0x010000FFu},
        {"header of 124 bytes", BmpFile(2, 2, 24, {}, {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0}, 124),
            0x00090807u, 0x00060504u},
        {"negative height still read bottom-up", BmpFile(2, -2, 24, {}, {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0}),
            0x00090807u, 0x00060504u},
    };
    for (const Case& c : cases) {
        SurfacePtr s(CreateSurface(32));
        ASSERT_TRUE(s->LoadDib(std::span(c.file).subspan(14), std::nullopt)) << c.what;
        EXPECT_EQ(s->Width(), 2) << c.what;
        EXPECT_EQ(s->Height(), 2) << c.what;
        EXPECT_EQ(PixelAt(*s, 0, 0), c.top) << c.what << std::hex << " " << PixelAt(*s, 0, 0);
        EXPECT_EQ(PixelAt(*s, 1, 1), c.bottom) << c.what << std::hex << " " << PixelAt(*s, 1, 1);
    }
}

TEST(Surface, LoadDibRefusesBitmapsLargerThanTheirBytes)
{
    SurfacePtr s = MakeSurface(3, 3);
    SetPixel(*s, 0, 0, 0x11223344u);
    auto file = BmpFile(2, 2, 24, {}, {1, 2, 3, 4, 5, 6, 0, 0});
    EXPECT_FALSE(s->LoadDib(std::span(file).subspan(14), std::nullopt)); // one row of two
    EXPECT_EQ(PixelAt(*s, 0, 0), 0x11223344u); // the old picture is kept
    auto huge = BmpFile(100000, 1, 24, {}, {});
    EXPECT_FALSE(s->LoadDib(std::span(huge).subspan(14), std::nullopt));
    const std::vector<std::uint8_t> shortHeader(20, 0);
    EXPECT_FALSE(s->LoadDib(shortHeader, std::nullopt));
    auto palette = BmpFile(1, 1, 8, std::vector<std::uint8_t>(4 * 300, 0), {0, 0, 0, 0});
    EXPECT_FALSE(s->LoadDib(std::span(palette).subspan(14), std::nullopt)); // more colours than an 8-bit table
}

TEST(Surface, BmpSaveAndLoadRoundTrips)
{
    SurfacePtr s = MakeSurface(3, 2);
    SetPixel(*s, 0, 0, 0x00010203u); // opaque
    SetPixel(*s, 2, 1, 0xFF040506u); // transparent
    SetPixel(*s, 1, 0, 0x80070809u);
    const auto path32 = TempPath("32.bmp");
    ASSERT_TRUE(s->SaveBmp32(path32));
    const auto bytes = kestrel::ReadWholeFile(path32);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(bytes->size(), 54u + 3 * 2 * 4);
    EXPECT_EQ((*bytes)[54 + 12 + 3], 255); // pixel (0, 0) is in the last stored row; alpha 255
    SurfacePtr back(CreateSurface(32));
    ASSERT_TRUE(back->LoadFile(nullptr, path32.u16string()));
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            EXPECT_EQ(PixelAt(*back, x, y), PixelAt(*s, x, y));

    const auto path24 = TempPath("24.bmp");
    ASSERT_TRUE(s->SaveBmp24(path24));
    const auto bytes24 = kestrel::ReadWholeFile(path24);
    EXPECT_EQ(bytes24->size(), 54u + 2 * 12); // rows of 9 bytes padded to 12
    SurfacePtr back24(CreateSurface(32));
    ASSERT_TRUE(back24->LoadFile(nullptr, path24.u16string()));
    EXPECT_EQ(PixelAt(*back24, 2, 1), 0x00040506u); // colour kept, opaque
    std::filesystem::remove(path32);
    std::filesystem::remove(path24);

    EXPECT_FALSE(back->LoadFile(nullptr, TempPath("missing.bmp").u16string()));
    EXPECT_FALSE(back->SaveBmp32(TempPath("/no/such/folder/x.bmp")));
}

TEST(Surface, ReferencesAndDrawingContexts)
{
    DxSurface* s = CreateSurface(32);
    ASSERT_TRUE(s->Create(2, 2));
    EXPECT_EQ(s->AddRef(), 2);
    EXPECT_EQ(s->Release(), 1);

    DrawingContext* dc = s->GetDC();
    ASSERT_NE(dc, nullptr);
    EXPECT_EQ(dc->image, s);
    EXPECT_EQ(s->GetDC(), dc);
    EXPECT_EQ(s->ReleaseDC(), 1);
    EXPECT_EQ(s->ReleaseDC(), 0);
    EXPECT_EQ(s->ReleaseDC(), 0);
    EXPECT_EQ(s->Release(), 0);

    kestrel::platform::HeadlessPlatform headless;
    headless.SetMessageBoxPolicy(kestrel::platform::HeadlessPlatform::AlwaysAnswer(kestrel::MessageBoxAnswer::Ignore));
    kestrel::platform::ScopedMessageBoxHost host(headless);
    kestrel::test::DebugCapture capture;
    EXPECT_EQ(CreateSurface(16), nullptr);
    ASSERT_EQ(headless.MessageBoxLog().size(), 1u);
    EXPECT_EQ(headless.MessageBoxLog()[0].request.text.rfind(u"Assert(bpp != 16);\nFile dxdraw/dxsurface", 0), 0u);
    EXPECT_EQ(CreateSurface(24), nullptr);
    EXPECT_EQ(headless.MessageBoxLog().size(), 1u);
}

TEST(Surface, MappedQuadsAndTriangles)
{
    SurfacePtr source = Numbered(8, 8);
    SurfacePtr dest = MakeSurface(20, 20);
    // An axis-aligned quad onto the same size maps pixels one to one.
    const DxPoint square[] = {{2, 3}, {9, 3}, {9, 10}, {2, 10}};
    const DxPoint whole[] = {{0, 0}, {7, 0}, {7, 7}, {0, 7}};
    ASSERT_TRUE(dest->DrawQuad(square, source.get(), whole, nullptr, nullptr));
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            ASSERT_EQ(PixelAt(*dest, 2 + x, 3 + y), PixelAt(*source, x, y)) << x << "," << y;
    EXPECT_EQ(PixelAt(*dest, 10, 3), 0u);
    EXPECT_EQ(dest->DirtyRect(), (Rect{2, 3, 10, 11}));

    // A triangle covers the pixels on one side of its diagonal only.
    SurfacePtr tri = MakeSurface(20, 20);
    const DxPoint corner[] = {{0, 0}, {7, 0}, {0, 7}};
    const DxPoint sourceCorner[] = {{0, 0}, {7, 0}, {0, 7}};
    ASSERT_TRUE(tri->DrawTriangle(corner, source.get(), sourceCorner, nullptr, nullptr));
    EXPECT_EQ(PixelAt(*tri, 0, 0), PixelAt(*source, 0, 0));
    EXPECT_EQ(PixelAt(*tri, 6, 0), PixelAt(*source, 6, 0));
    EXPECT_EQ(PixelAt(*tri, 6, 6), 0u);

    // Clipped, and never read outside the source.
    const Rect clip{0, 0, 5, 5};
    const DxPoint big[] = {{-5, -5}, {30, -5}, {30, 30}, {-5, 30}};
    SurfacePtr clipped = MakeSurface(20, 20);
    EXPECT_TRUE(clipped->DrawQuad(big, source.get(), whole, &clip, nullptr));
    EXPECT_EQ(PixelAt(*clipped, 5, 5), 0u);
    BlendParams none;
    none.flags = 7;
    EXPECT_FALSE(clipped->DrawTriangle(corner, source.get(), sourceCorner, nullptr, &none));
}

TEST(DibSection, CreatesHeaderTableAndBits)
{
    DibSection dib;
    ASSERT_TRUE(dib.Create(10, 4, 8));
    EXPECT_EQ(dib.RowBytes(), 12u);
    EXPECT_EQ(dib.ImageBytes(), 48u);
    EXPECT_EQ(dib.ColourTable().size(), 256u * 4);
    EXPECT_EQ(dib.Info().bitCount, 8);
    ASSERT_TRUE(dib.Create(3, 3, 24));
    EXPECT_EQ(dib.RowBytes(), 12u);
    EXPECT_TRUE(dib.ColourTable().empty());
    EXPECT_FALSE(dib.Create(0, 3, 24));
}

} // namespace
} // namespace DxDraw
