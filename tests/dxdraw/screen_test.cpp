#include "core/file.h"
#include "dxdraw/picture/decoders.h"
#include "dxdraw/picture/frame_png.h"
#include "dxdraw/screen.h"
#include "dxdraw/sprite.h"
#include "dxdraw/view.h"
#include "platform/headless/headless_platform.h"
#include "support/golden.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>

namespace DxDraw {
namespace {

using kestrel::platform::HeadlessPlatform;

constexpr std::uint32_t kRed = 0x00FF0000;
constexpr std::uint32_t kClear = 0xFF000000; // transparent black as presented

// A surface whose pixel (x, y) is f(x, y) (blue, green, red, T as one value).
DxSurface* PaintedSurface(std::int32_t width, std::int32_t height,
    const std::function<std::uint32_t(std::int32_t, std::int32_t)>& f)
{
    DxSurface* surface = CreateSurface(32);
    surface->Create(width, height);
    for (std::int32_t y = 0; y < height; ++y) {
        for (std::int32_t x = 0; x < width; ++x) {
            const std::uint32_t v = f(x, y);
            std::memcpy(surface->PixelAddress(x, y), &v, 4);
        }
    }
    surface->MarkDirty(nullptr);
    return surface;
}

DxSprite* AddSprite(ssGroup& group, std::int32_t x, std::int32_t y, DxSurface* surface, std::uint32_t blendFlags = 0,
    std::int16_t level = 256)
{
    auto* sprite = new DxSprite(blendFlags);
    sprite->SetSurface(surface, SurfaceOwnership::Owned);
    sprite->SetCell(nullptr);
    sprite->SetBlendLevel(level);
    sprite->SetPosition(x, y);
    group.AddChild(sprite);
    return sprite;
}

DxSprite* AddSolid(ssGroup& group, std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height,
    std::uint32_t colour, std::uint32_t blendFlags = 0, std::int16_t level = 256)
{
    return AddSprite(group, x, y, PaintedSurface(width, height, [&](int, int) { return colour; }), blendFlags, level);
}

// An opaque checkerboard of two greys, redder to the right and bluer to the
// bottom, so that blends over it show.
DxSurface* Backdrop(std::int32_t width, std::int32_t height)
{
    return PaintedSurface(width, height, [width, height](std::int32_t x, std::int32_t y) {
        const std::uint32_t grey = ((x / 10 + y / 10) % 2) ? 0x50 : 0x80;
        const auto red = grey + static_cast<std::uint32_t>(x * 64 / width);
        const auto blue = grey + static_cast<std::uint32_t>(y * 64 / height);
        return blue | (grey << 8) | (red << 16);
    });
}

// Source-alpha blending that leaves the screen's transparency byte alone, so
// the composed frame stays opaque.
constexpr std::uint32_t kOverlay = kBlendSourceAlpha | (kRuleKeep << 4);

// A disc of one colour whose alpha falls from opaque at the centre to
// transparent at the rim.
DxSurface* SoftDisc(std::int32_t size, std::uint32_t colour)
{
    return PaintedSurface(size, size, [size, colour](std::int32_t x, std::int32_t y) {
        const double r = size / 2.0;
        const double d = std::hypot(x + 0.5 - r, y + 0.5 - r) / r;
        const auto alpha = static_cast<std::uint32_t>(std::clamp(255.0 * (1.0 - d), 0.0, 255.0));
        return colour | ((255 - alpha) << 24);
    });
}

struct Scene {
    explicit Scene(std::int32_t width = 200, std::int32_t height = 150)
        : screen(MakeView<DxScreenSurface32>(platform.GetDisplay()))
    {
        EXPECT_TRUE(screen->CreateBackBuffer(width, height));
    }

    void Frame() { screen->Draw(nullptr); }

    // Draws once and tells whether anything was presented.
    bool FramePresents()
    {
        const std::uint64_t before = platform.PresentedRects();
        Frame();
        return platform.PresentedRects() != before;
    }

    std::uint32_t Pixel(std::int32_t x, std::int32_t y) const
    {
        std::uint32_t v;
        std::memcpy(&v, &platform.PresentedFrame()[(std::size_t(y) * std::size_t(platform.FrameWidth()) + std::size_t(x)) * 4], 4);
        return v;
    }

    kestrel::test::Frame Presented() const
    {
        return {platform.FrameWidth(), platform.FrameHeight(), platform.PresentedFrame()};
    }

    HeadlessPlatform platform;
    ViewPtr<DxScreenSurface32> screen;
};

// --- rendering and presenting ------------------------------------------------------

TEST(Screen, TheFirstFramePaintsTheWholeScreenTransparentBlack)
{
    Scene scene(64, 48);
    EXPECT_EQ(scene.screen->ScreenRect(), (Rect{0, 0, 64, 48}));
    scene.Frame();
    EXPECT_EQ(scene.platform.FrameWidth(), 64);
    EXPECT_EQ(scene.platform.FrameHeight(), 48);
    EXPECT_EQ(scene.platform.PresentedRects(), 1u);
    EXPECT_EQ(scene.platform.PresentedPixels(), 64u * 48u);
    EXPECT_EQ(scene.Pixel(0, 0), kClear);
    EXPECT_EQ(scene.Pixel(63, 47), kClear);
}

TEST(Screen, AnIdleFramePresentsNoPixels)
{
    Scene scene;
    AddSolid(*scene.screen, 0, 0, 200, 150, 0x336699);
    AddSolid(*scene.screen, 20, 20, 30, 30, kRed);
    scene.Frame();
    scene.platform.ResetPresentCounters();
    for (int i = 0; i < 3; ++i)
        scene.Frame();
    EXPECT_EQ(scene.platform.PresentedRects(), 0u);
    EXPECT_EQ(scene.platform.PresentedPixels(), 0u);
    EXPECT_EQ(scene.screen->Dirty().Count(), 0);
}

TEST(Screen, OnlyTheChangedRectangleIsRedrawnAndPresented)
{
    Scene scene;
    AddSolid(*scene.screen, 0, 0, 200, 150, 0x336699);
    DxSprite* sprite = AddSolid(*scene.screen, 20, 20, 10, 10, kRed);
    scene.Frame();
    sprite->SetPosition(25, 22);
    scene.platform.ResetPresentCounters();
    scene.Frame();
    EXPECT_EQ(scene.platform.PresentedRects(), 1u);
    EXPECT_EQ(scene.platform.PresentedPixels(), 15u * 12u);
    EXPECT_EQ(scene.Pixel(21, 21), 0x336699u);
    EXPECT_EQ(scene.Pixel(34, 31), kRed);
}

TEST(Screen, EachRectangleIsClearedBeforeItIsRedrawn)
{
    Scene scene(40, 30);
    // Red at half opacity: drawn over a stale copy of itself it would grow
    // redder each time; redrawn over a cleared rectangle it stays the same.
    DxSprite* sprite = AddSolid(*scene.screen, 5, 5, 10, 10, kRed, kOpOpacity, 128);
    scene.Frame();
    const std::uint32_t first = scene.Pixel(7, 7);
    EXPECT_EQ(first, 0x007F0000u); // half of red over black; the source's T is copied
    for (int i = 0; i < 3; ++i) {
        sprite->MarkChanged(kChangedLook);
        scene.Frame();
        EXPECT_EQ(scene.Pixel(7, 7), first);
    }
}

TEST(Screen, TheSkipCounterRendersOneFrameInReloadPlusOne)
{
    Scene scene(40, 30);
    DxSprite* sprite = AddSolid(*scene.screen, 0, 0, 4, 4, kRed);
    scene.Frame();

    // The frame-skip setting 4: counter and reload 3.
    scene.screen->SetSkip(3, 3);
    std::vector<int> rendered;
    for (int call = 1; call <= 12; ++call) {
        sprite->SetPosition(call, 0);
        if (scene.FramePresents())
            rendered.push_back(call);
    }
    EXPECT_EQ(rendered, (std::vector<int>{4, 8, 12}));
    EXPECT_EQ(scene.screen->SkipCounter(), 3);
    // The skipped moves were not lost: the old place is clear, the last drawn.
    EXPECT_EQ(scene.Pixel(0, 0), kClear);
    EXPECT_EQ(scene.Pixel(12, 0), kRed);

    // Counter 0 renders at once; reload 0 renders every frame.
    scene.screen->SetSkip(0, 1);
    rendered.clear();
    for (int call = 1; call <= 6; ++call) {
        sprite->SetPosition(call + 20, 0);
        if (scene.FramePresents())
            rendered.push_back(call);
    }
    EXPECT_EQ(rendered, (std::vector<int>{1, 3, 5}));
    scene.screen->SetSkip(0, 0);
    for (int call = 1; call <= 3; ++call) {
        sprite->SetPosition(call, 10);
        EXPECT_TRUE(scene.FramePresents());
    }
}

TEST(Screen, AnInvalidatedRectangleIsRedrawnAtTheNextFrame)
{
    Scene scene;
    auto* group = new DxDrawGroup;
    scene.screen->AddChild(group);
    auto* view = new DxDrawView;
    group->AddChild(view);
    scene.Frame();

    // From any node, DX_INVALIDATE climbs to the screen.
    const Rect area{10, 20, 30, 25};
    view->Parent()->Handle(DX_INVALIDATE, ToParam(&area), 0);
    EXPECT_EQ(scene.screen->Dirty()[0], area);
    scene.platform.ResetPresentCounters();
    scene.Frame();
    EXPECT_EQ(scene.platform.PresentedRects(), 1u);
    EXPECT_EQ(scene.platform.PresentedPixels(), 100u);

    // Rectangles reaching past the screen are cut to it.
    const Rect past{190, 140, 260, 200};
    scene.screen->Handle(DX_INVALIDATE, ToParam(&past), 0);
    scene.platform.ResetPresentCounters();
    scene.Frame();
    EXPECT_EQ(scene.platform.PresentedPixels(), 100u);
}

TEST(Screen, APaintRequestRedrawsItsRectangleAtOnce)
{
    Scene scene;
    AddSolid(*scene.screen, 0, 0, 200, 150, 0x204060);
    scene.Frame();
    scene.platform.ResetPresentCounters();

    const Rect covered{50, 40, 70, 50};
    scene.screen->Handle(DX_PAINTNOW, ToParam(&covered), static_cast<MsgParam>(PresentMode::Copy));
    EXPECT_EQ(scene.platform.PresentedRects(), 1u);
    EXPECT_EQ(scene.platform.PresentedPixels(), 200u);
    EXPECT_EQ(scene.Pixel(55, 45), 0x204060u);

    // Without presenting, the back buffer is brought up to date only.
    scene.platform.ResetPresentCounters();
    scene.screen->Handle(DX_PAINTNOW, ToParam(&covered), static_cast<MsgParam>(PresentMode::None));
    EXPECT_EQ(scene.platform.PresentedRects(), 0u);
}

TEST(Screen, CaptureIsAnIndependentCopy)
{
    Scene scene(40, 30);
    DxSprite* sprite = AddSolid(*scene.screen, 0, 0, 10, 10, kRed);
    scene.Frame();
    SurfacePtr captured = scene.screen->Capture();
    ASSERT_TRUE(captured);
    EXPECT_EQ(captured->Width(), 40);
    EXPECT_EQ(captured->AbsHeight(), 30);
    sprite->SetPosition(20, 10);
    scene.Frame();
    std::uint32_t pixel;
    std::memcpy(&pixel, captured->PixelAddress(5, 5), 4);
    EXPECT_EQ(pixel, kRed);
    std::memcpy(&pixel, captured->PixelAddress(25, 15), 4);
    EXPECT_EQ(pixel, kClear);
}

TEST(Screen, SeparateRectanglesAreRedrawnApart)
{
    Scene scene;
    scene.screen->SetDirtyMode(DirtyListMode::Separate);
    DxSprite* a = AddSolid(*scene.screen, 0, 0, 10, 10, kRed);
    DxSprite* b = AddSolid(*scene.screen, 180, 130, 10, 10, kRed);
    scene.Frame();
    a->SetPosition(1, 0);
    b->SetPosition(180, 131);
    scene.platform.ResetPresentCounters();
    scene.Frame();
    EXPECT_EQ(scene.platform.PresentedRects(), 4u); // old and new of each
    EXPECT_EQ(scene.platform.PresentedPixels(), 400u);
    EXPECT_EQ(scene.Pixel(0, 0), kClear);
    EXPECT_EQ(scene.Pixel(189, 140), kRed);
}

TEST(Screen, TheFullRedrawPolicyPresentsEverything)
{
    Scene scene;
    DxSprite* sprite = AddSolid(*scene.screen, 0, 0, 10, 10, kRed);
    scene.screen->SetRedrawPolicy(RedrawPolicy::Everything);
    scene.Frame();
    scene.platform.ResetPresentCounters();
    scene.Frame(); // nothing changed, all is redrawn anyway
    EXPECT_EQ(scene.platform.PresentedPixels(), 200u * 150u);
    sprite->SetPosition(5, 5);
    scene.Frame();
    EXPECT_EQ(scene.Pixel(14, 14), kRed);
    EXPECT_EQ(scene.Pixel(0, 0), kClear);
}

TEST(Screen, DrawnFromTheRootGroupAtItsPosition)
{
    HeadlessPlatform platform;
    auto root = MakeView<DrawGroup>();
    auto* screen = new DxScreenSurface32(platform.GetDisplay());
    ASSERT_TRUE(screen->CreateBackBuffer(40, 30));
    root->AddChild(screen);
    auto* sprite = new DxSprite;
    sprite->SetSurface(PaintedSurface(4, 4, [](int, int) { return kRed; }), SurfaceOwnership::Owned);
    sprite->SetCell(nullptr);
    sprite->SetPosition(10, 10);
    screen->AddChild(sprite);

    DrawContext context;
    root->Tick();
    root->Draw(&context);
    EXPECT_EQ(sprite->DrawnRect(), (Rect{10, 10, 14, 14}));
    std::uint32_t pixel;
    std::memcpy(&pixel, &platform.PresentedFrame()[(10 * 40 + 10) * 4], 4);
    EXPECT_EQ(pixel, kRed);
    EXPECT_EQ(kestrel::MatrixStackDepth(), 0);
}

// --- golden pictures ---------------------------------------------------------------

// Opaque copy, half opacity, addition and source alpha over a backdrop.
void BuildBlendScene(DxScreenSurface32& screen)
{
    AddSprite(screen, 0, 0, Backdrop(200, 150));
    AddSolid(screen, 15, 15, 70, 55, 0xE08020);                         // copy
    AddSolid(screen, 50, 40, 70, 55, 0x2040E0, kOpOpacity, 128);        // half opacity, over the copy
    AddSolid(screen, 115, 15, 70, 50, 0x00A040, kOpAdd, 256);           // addition
    AddSolid(screen, 140, 45, 40, 40, 0xA00000, kOpAdd, 128);           // addition at half level, over it
    AddSprite(screen, 85, 70, SoftDisc(80, 0xFF40FF), kOverlay);        // source alpha, over all three
    AddSolid(screen, 10, 110, 60, 30, 0xFFFFFF, kOpOpacity | kOverlay, 96); // source alpha at a level
}

TEST(Screen, GoldenOverlappingBlends)
{
    Scene scene;
    BuildBlendScene(*scene.screen);
    scene.Frame();
    EXPECT_TRUE(kestrel::test::MatchesGolden("dxdraw/golden/screen_blends.png", scene.Presented()));
}

TEST(Screen, GoldenMovedAndHiddenAfterSeveralFrames)
{
    Scene scene;
    AddSprite(*scene.screen, 0, 0, Backdrop(200, 150));
    DxSprite* mover = AddSolid(*scene.screen, 10, 10, 30, 20, 0x2060E0);
    DxSprite* hidden = AddSolid(*scene.screen, 120, 20, 40, 40, 0xE02020);
    DxSprite* glow = AddSprite(*scene.screen, 60, 60, SoftDisc(50, 0xFFFF60), kOverlay);
    auto* board = new DxSurfaceSprite32(60, 30, kOverlay);
    board->SetPosition(130, 110);
    scene.screen->AddChild(board);
    scene.Frame();

    for (int frame = 1; frame <= 6; ++frame) {
        mover->SetPosition(10 + 15 * frame, 10 + 8 * frame); // ends under the disc
        if (frame == 3)
            hidden->Hide();
        if (frame == 4)
            board->FillBox(5 * frame, 5, 20, 20, 0x40E040, 255);
        if (frame == 5)
            glow->SetPosition(100, 50);
        scene.Frame();
    }
    const kestrel::test::Frame incremental = scene.Presented();
    EXPECT_TRUE(kestrel::test::MatchesGolden("dxdraw/golden/screen_moved_hidden.png", incremental));

    // The frames drawn rectangle by rectangle end where one full redraw does.
    scene.screen->SetRedrawPolicy(RedrawPolicy::Everything);
    scene.Frame();
    EXPECT_EQ(scene.Presented().pixels, incremental.pixels);
}

} // namespace
} // namespace DxDraw

namespace DxDraw {
namespace {

TEST(FramePng, AHeadlessFrameSavesToAPngThatReadsBackExactly)
{
    kestrel::platform::HeadlessPlatform headless;
    SurfacePtr frame(CreateSurface(32));
    ASSERT_TRUE(frame->Create(5, 3));
    for (std::int32_t y = 0; y < 3; ++y)
        for (std::int32_t x = 0; x < 5; ++x) {
            std::uint8_t* p = frame->PixelAddress(x, y);
            p[0] = std::uint8_t(x * 40), p[1] = std::uint8_t(y * 70), p[2] = 200, p[3] = std::uint8_t(x * 60);
        }
    const kestrel::platform::FrameView view{frame->PixelAddress(0, 0), frame->Pitch(), 5, 3};
    headless.GetDisplay().Present(view, {0, 0, 5, 3});

    const auto path = std::filesystem::temp_directory_path() / "kestrel_frame_png_test.png";
    ASSERT_TRUE(SaveFramePng(path, headless.FrameWidth(), headless.FrameHeight(), headless.PresentedFrame().data(),
        headless.FrameWidth() * 4));
    const auto file = kestrel::ReadWholeFile(path);
    std::filesystem::remove(path);
    ASSERT_TRUE(file);
    std::optional<DibBlock> dib = DecodePng(*file);
    ASSERT_TRUE(dib);
    ASSERT_EQ(dib->header().bitCount, 32);
    SurfacePtr back(CreateSurface(32));
    ASSERT_TRUE(back->LoadDib(dib->bytes(), std::nullopt));
    for (std::int32_t y = 0; y < 3; ++y)
        for (std::int32_t x = 0; x < 5; ++x)
            EXPECT_EQ(std::memcmp(back->PixelAddress(x, y), frame->PixelAddress(x, y), 4), 0) << x << "," << y;
    EXPECT_TRUE(EncodeFramePng(0, 3, view.topLeft, view.pitch).empty());
}

} // namespace
} // namespace DxDraw
