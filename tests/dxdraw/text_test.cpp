#include "dxdraw/text.h"

#include "dxdraw/font/face_resolver.h"
#include "dxdraw/font/scaled_font.h"
#include "platform/headless/headless_platform.h"
#include "support/golden.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace DxDraw {
namespace {

constexpr std::u16string_view kMincho = u"ＭＳ 明朝";
constexpr std::u16string_view kGothic = u"ＭＳ ゴシック";

SurfacePtr MakeSurface(std::int32_t width, std::int32_t height)
{
    SurfacePtr surface(CreateSurface(32));
    EXPECT_TRUE(surface->Create(width, height));
    return surface;
}

std::uint32_t PixelAt(const DxImage& image, std::int32_t x, std::int32_t y)
{
    std::uint32_t v;
    std::memcpy(&v, image.PixelAddress(x, y), 4);
    return v;
}

// The surface as top-down rows, for comparing whole pictures.
kestrel::test::Frame FrameOf(const DxImage& image)
{
    kestrel::test::Frame frame { image.Width(), image.AbsHeight(), {} };
    frame.pixels.resize(std::size_t(frame.width) * std::size_t(frame.height) * 4);
    for (std::int32_t y = 0; y < frame.height; ++y)
        std::memcpy(&frame.pixels[std::size_t(y) * std::size_t(frame.width) * 4], image.PixelAddress(0, y),
            std::size_t(frame.width) * 4);
    return frame;
}

bool HasKana(const font::FaceFile& face)
{
    const std::unique_ptr<font::ScaledFont> scaled = font::ScaledFont::Open(face, 16);
    return scaled && scaled->HasGlyph(font::kKanaProbe) && scaled->HasGlyph(U'ア');
}

bool Mentions(const std::u16string& family, std::u16string_view japanese, std::u16string_view latin)
{
    return family.find(japanese) != std::u16string::npos || family.find(latin) != std::u16string::npos;
}

// A style over the area, begun on the surface for as long as it lives.
struct BegunStyle {
    BegunStyle(DxFont* font, DxSurface* surface, std::uint32_t flags, Rect area = { 0, 0, 320, 48 })
        : surface(surface)
    {
        style.Init();
        style.pFont = font;
        style.flags = flags;
        style.area = area;
        style.Begin(surface);
    }
    ~BegunStyle() { style.End(); }
    BegunStyle(const BegunStyle&) = delete;
    BegunStyle& operator=(const BegunStyle&) = delete;

    DxSurface* surface;
    TextStyle style;
};

// --- faces --------------------------------------------------------------------

TEST(FontFaces, MinchoNameFindsAJapaneseMinchoFace)
{
    const std::optional<font::FaceFile> face = font::ResolveFace(kMincho);
    ASSERT_TRUE(face.has_value());
    EXPECT_TRUE(HasKana(*face)) << face->path;
    EXPECT_TRUE(Mentions(face->family, u"明朝", u"Mincho")) << face->path;
    // The fixed-pitch face, as the name it stands for.
    EXPECT_FALSE(Mentions(face->family, u"P明朝", u"PMincho")) << face->path;
}

TEST(FontFaces, GothicNameFindsAJapaneseGothicFace)
{
    const std::optional<font::FaceFile> face = font::ResolveFace(kGothic);
    ASSERT_TRUE(face.has_value());
    EXPECT_TRUE(HasKana(*face)) << face->path;
    EXPECT_TRUE(Mentions(face->family, u"ゴシック", u"Gothic")) << face->path;
}

TEST(FontFaces, ProportionalNamesFindProportionalFaces)
{
    const std::optional<font::FaceFile> face = font::ResolveFace(u"ＭＳ Ｐゴシック");
    ASSERT_TRUE(face.has_value());
    EXPECT_TRUE(HasKana(*face));
    EXPECT_TRUE(Mentions(face->family, u"ゴシック", u"Gothic"));
    const std::unique_ptr<font::ScaledFont> proportional = font::ScaledFont::Open(*face, 32);
    ASSERT_TRUE(proportional);
    EXPECT_LT(proportional->TextExtent(U'i'), proportional->TextExtent(U'W'));
}

TEST(FontFaces, UnknownNamesFallBackToAFaceWithKana)
{
    for (std::u16string_view name : { std::u16string_view(u"No Such Face"), std::u16string_view(u"存在しない書体"),
             std::u16string_view(u""), std::u16string_view(u"DejaVu Sans") }) {
        const std::optional<font::FaceFile> face = font::ResolveFace(name);
        ASSERT_TRUE(face.has_value());
        EXPECT_TRUE(HasKana(*face)) << face->path;
    }
}

TEST(FontFaces, FontListHoldsJapaneseFixedPitchFacesThatResolveToThemselves)
{
    const std::vector<std::u16string> names = font::JapaneseFixedPitchFaces();
    ASSERT_FALSE(names.empty());
    for (const std::u16string& name : names) {
        EXPECT_NE(name.front(), u'@');
        const std::optional<font::FaceFile> face = font::ResolveFace(name);
        ASSERT_TRUE(face.has_value());
        EXPECT_EQ(face->family, name);
        EXPECT_TRUE(HasKana(*face));
    }
}

TEST(FontFaces, CellHeightAndAscentFollowTheRequestedHeight)
{
    const std::optional<font::FaceFile> face = font::ResolveFace(kMincho);
    ASSERT_TRUE(face.has_value());
    for (std::int32_t height : { 12, 16, 24, 64 }) {
        const std::unique_ptr<font::ScaledFont> scaled = font::ScaledFont::Open(*face, height);
        ASSERT_TRUE(scaled);
        EXPECT_EQ(scaled->CellHeight(), height);
        EXPECT_GT(scaled->Ascent(), height / 2);
        EXPECT_LE(scaled->Ascent(), height);
        // A full-width character of a Japanese face is one cell wide.
        EXPECT_EQ(scaled->TextExtent(U'あ'), height);
    }
}

// --- the font object ------------------------------------------------------------

TEST(TextFont, DefaultsAndSetFace)
{
    FontPtr font(new DxFont);
    EXPECT_TRUE(font->Create());
    const LogFont& lf = font->Logical();
    EXPECT_EQ(lf.height, 16);
    EXPECT_EQ(lf.weight, 400);
    EXPECT_EQ(lf.charSet, 1);
    EXPECT_EQ(lf.pitchAndFamily, 1);
    EXPECT_EQ(lf.Face(), kMincho);
    EXPECT_TRUE(font->HasFace());
    ASSERT_NE(font->GlyphBuffer(), nullptr);
    EXPECT_EQ(font->GlyphBuffer()->BitDepth(), 8);
    EXPECT_EQ(font->GlyphBuffer()->Width(), (16 + 8) * 4);
    EXPECT_EQ(font->GlyphBuffer()->AbsHeight(), 16 * 4);
    // A grey ramp: index 15 is the grey 15.
    EXPECT_EQ(font->GlyphBuffer()->ColourTable()[15 * 4], 15);

    const std::u16string longName(40, u'書');
    EXPECT_TRUE(font->SetFace(longName, 24));
    EXPECT_EQ(font->Logical().height, 24);
    EXPECT_EQ(font->Logical().pitchAndFamily, 0);
    EXPECT_EQ(font->Logical().Face(), std::u16string(31, u'書'));
    EXPECT_TRUE(font->HasFace()); // an unknown name still draws Japanese
    EXPECT_EQ(font->GlyphBuffer()->Width(), (24 + 12) * 4);
    EXPECT_EQ(font->AddRef(), 2);
    EXPECT_EQ(font->Release(), 1);
}

TEST(TextFont, ProgrammingErrorsAreReported)
{
    kestrel::platform::HeadlessPlatform headless;
    headless.SetMessageBoxPolicy(kestrel::platform::HeadlessPlatform::AlwaysAnswer(kestrel::MessageBoxAnswer::Ignore));
    kestrel::platform::ScopedMessageBoxHost host(headless);
    const auto reported = [&](std::u16string_view text) {
        for (const auto& record : headless.MessageBoxLog()) {
            if (record.request.text.starts_with(text))
                return true;
        }
        return false;
    };
    SurfacePtr surface = MakeSurface(32, 32);
    FontPtr font = NewFont(kMincho, 16);

    TextStyle style;
    style.Init();
    style.pFont = font.get();
    style.CharSize(U'あ');
    EXPECT_TRUE(reported(u"Assert(hdc!=NULL || m_BeginCount!=0);\nFile dxdraw/dxdraw"));
    style.End();
    EXPECT_TRUE(reported(u"Assert(m_BeginCount);\nFile dxdraw/dxdraw"));

    style.Begin(surface.get());
    EXPECT_FALSE(font->SetFace(kGothic, 16)); // refused while begun
    EXPECT_TRUE(reported(u"Assert(m_nBeginCount == 0);\nFile dxdraw/dxdraw"));
    EXPECT_EQ(font->Logical().Face(), kMincho);
    EXPECT_TRUE(font->HasFace());
    style.End();
    EXPECT_EQ(font->BeginCount(), 0);
    FontBeginRecord record;
    font->End(record);
    EXPECT_TRUE(reported(u"Assert(m_nBeginCount);\nFile dxdraw/dxdraw"));

    style.pFont = nullptr;
    EXPECT_EQ(surface->DrawChar(style, U'あ'), 0);
    EXPECT_TRUE(reported(u"Assert(pData->pFont);\nFile dxdraw/dxsurface"));
    EXPECT_EQ(style.m_BeginCount, 0);
}

// --- measuring ------------------------------------------------------------------

TEST(TextLayout, FixedWidthsAreHalfOrFullHeight)
{
    SurfacePtr surface = MakeSurface(8, 8);
    FontPtr font = NewFont(kMincho, 16);
    BegunStyle begun(font.get(), surface.get(), 0);
    TextStyle& style = begun.style;
    EXPECT_EQ(style.CharSize(U'A'), (CharacterSize { 8, 16 }));
    EXPECT_EQ(style.CharSize(0), (CharacterSize { 8, 16 }));
    EXPECT_EQ(style.CharSize(0xFF), (CharacterSize { 8, 16 }));
    EXPECT_EQ(style.CharSize(0x100), (CharacterSize { 16, 16 }));
    EXPECT_EQ(style.CharSize(U'あ'), (CharacterSize { 16, 16 }));
    // Half-width katakana, and the forms on either side of them.
    EXPECT_EQ(style.CharSize(0xFF61), (CharacterSize { 8, 16 }));
    EXPECT_EQ(style.CharSize(U'ｱ'), (CharacterSize { 8, 16 }));
    EXPECT_EQ(style.CharSize(0xFF9F), (CharacterSize { 8, 16 }));
    EXPECT_EQ(style.CharSize(0xFF60), (CharacterSize { 16, 16 }));
    EXPECT_EQ(style.CharSize(0xFFA0), (CharacterSize { 16, 16 }));
    EXPECT_EQ(style.CharSize(0x20000), (CharacterSize { 16, 16 }));
    EXPECT_EQ(style.TextWidth(u"aあｱ\U00020000"), 8 + 16 + 8 + 16);
    EXPECT_EQ(style.TextWidth(u"ｱｲｳ", -1), 24);
    EXPECT_EQ(style.TextWidth(u"ｱｲｳ", 2), 16);
}

TEST(TextLayout, ProportionalWidthsAreTextExtentsInBothForms)
{
    SurfacePtr surface = MakeSurface(8, 8);
    FontPtr font = NewFont(u"ＭＳ Ｐ明朝", 32);
    std::int32_t normal[2] = {};
    std::int32_t antiAliased[2] = {};
    {
        BegunStyle begun(font.get(), surface.get(), kTextProportional);
        normal[0] = begun.style.CharSize(U'i').width;
        normal[1] = begun.style.CharSize(U'W').width;
        EXPECT_EQ(begun.style.CharSize(U'あ').height, 32);
        EXPECT_EQ(begun.style.TextWidth(u"iW"), normal[0] + normal[1]);
    }
    {
        BegunStyle begun(font.get(), surface.get(), kTextProportional | kTextAntiAliased);
        antiAliased[0] = begun.style.CharSize(U'i').width;
        antiAliased[1] = begun.style.CharSize(U'W').width;
    }
    EXPECT_LT(normal[0], normal[1]);
    EXPECT_GT(normal[0], 0);
    for (int i = 0; i < 2; ++i)
        EXPECT_NEAR(antiAliased[i], normal[i], 1) << i;
}

// --- placing characters -----------------------------------------------------------

struct EventLog {
    std::vector<std::pair<TextEvent, std::uint32_t>> events;
    int scrollAnswer = 0;
    int beforeAnswer = 0;

    TextEventCallback Callback()
    {
        return [this](TextStyle&, DxSurface&, TextEvent event, std::uint32_t character) {
            events.emplace_back(event, character);
            if (event == TextEvent::ScrollNeeded)
                return scrollAnswer;
            if (event == TextEvent::BeforeCharacter)
                return beforeAnswer;
            return 0;
        };
    }
    int Count(TextEvent event) const
    {
        int n = 0;
        for (const auto& e : events)
            n += e.first == event;
        return n;
    }
};

TextStyle StyleFor(DxFont* font, Rect area, std::uint32_t flags = 0)
{
    TextStyle style;
    style.Init();
    style.pFont = font;
    style.area = area;
    style.flags = flags;
    return style;
}

TEST(TextLayout, ACharacterEndingAtTheRightEdgeDoesNotWrap)
{
    SurfacePtr surface = MakeSurface(64, 64);
    FontPtr font = NewFont(kMincho, 16);
    EventLog log;
    TextStyle style = StyleFor(font.get(), { 0, 0, 48, 64 });
    style.callback = log.Callback();
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(surface->DrawChar(style, U'あ'), 1);
    EXPECT_EQ(style.cursorX, 48);
    EXPECT_EQ(style.cursorY, 0);
    EXPECT_EQ(log.Count(TextEvent::LineWrapped), 0);
    surface->DrawChar(style, U'い');
    EXPECT_EQ(style.cursorX, 16);
    EXPECT_EQ(style.cursorY, 16);
    EXPECT_EQ(log.Count(TextEvent::LineWrapped), 1);

    // One pixel narrower: the third character wraps.
    TextStyle narrow = StyleFor(font.get(), { 0, 0, 47, 64 });
    narrow.callback = log.Callback();
    log.events.clear();
    for (int i = 0; i < 3; ++i)
        surface->DrawChar(narrow, U'あ');
    EXPECT_EQ(narrow.cursorX, 16);
    EXPECT_EQ(narrow.cursorY, 16);
    EXPECT_EQ(log.Count(TextEvent::LineWrapped), 1);

    // A half-width character fits the half cell that is left.
    TextStyle half = StyleFor(font.get(), { 0, 0, 40, 64 });
    surface->DrawChar(half, U'あ');
    surface->DrawChar(half, U'あ');
    surface->DrawChar(half, U'a');
    EXPECT_EQ(half.cursorX, 40);
    EXPECT_EQ(half.cursorY, 0);
}

TEST(TextLayout, ALineFeedAtTheLastLineScrollsOnTheNextCharacter)
{
    SurfacePtr surface = MakeSurface(64, 40);
    FontPtr font = NewFont(kMincho, 16);
    EventLog log;
    TextStyle style = StyleFor(font.get(), { 4, 4, 52, 36 }); // two lines of 16
    style.callback = log.Callback();
    surface->Fill(nullptr, 0x336699, 255);

    surface->DrawChar(style, U'あ');
    surface->DrawChar(style, U'\n');
    EXPECT_EQ(style.cursorX, 0);
    EXPECT_EQ(style.cursorY, 16);
    surface->DrawChar(style, U'い');
    const kestrel::test::Frame beforeFeed = FrameOf(*surface);
    surface->DrawChar(style, U'\n');
    EXPECT_EQ(style.cursorY, 32);
    EXPECT_EQ(log.Count(TextEvent::LineFeed), 2);
    EXPECT_EQ(log.Count(TextEvent::ScrollNeeded), 0);
    // The line feed itself draws and scrolls nothing.
    EXPECT_EQ(FrameOf(*surface).pixels, beforeFeed.pixels);

    // What the second line held, to find it on the first line after the scroll.
    std::vector<std::uint32_t> secondLine;
    for (std::int32_t y = 20; y < 36; ++y)
        for (std::int32_t x = 4; x < 52; ++x)
            secondLine.push_back(PixelAt(*surface, x, y));

    surface->ClearDirty();
    surface->DrawChar(style, U'う');
    EXPECT_EQ(log.Count(TextEvent::ScrollNeeded), 1);
    EXPECT_EQ(style.cursorY, 16);
    EXPECT_EQ(style.cursorX, 16);
    std::size_t i = 0;
    for (std::int32_t y = 4; y < 20; ++y)
        for (std::int32_t x = 4; x < 52; ++x, ++i)
            ASSERT_EQ(PixelAt(*surface, x, y), secondLine[i]) << x << "," << y;
    // The freed strip is transparent black where the new character is not.
    EXPECT_EQ(PixelAt(*surface, 51, 35), 0xFF000000u);
    EXPECT_EQ(PixelAt(*surface, 30, 35), 0xFF000000u);
    // Outside the area nothing moved.
    EXPECT_EQ(PixelAt(*surface, 2, 30), 0x00336699u);
    EXPECT_EQ(PixelAt(*surface, 60, 10), 0x00336699u);
    EXPECT_EQ(surface->DirtyRect(), (Rect { 4, 4, 52, 36 }));
}

TEST(TextLayout, TheCallbackCanSkipCharactersAndSuppressTheScroll)
{
    SurfacePtr surface = MakeSurface(32, 16);
    FontPtr font = NewFont(kMincho, 16);
    EventLog log;
    TextStyle style = StyleFor(font.get(), { 0, 0, 32, 16 });
    style.callback = log.Callback();

    log.beforeAnswer = 1;
    EXPECT_EQ(surface->DrawChar(style, U'あ'), 0);
    EXPECT_EQ(style.cursorX, 0);
    EXPECT_TRUE(surface->DirtyRect().Empty());
    EXPECT_EQ(font->BeginCount(), 0);

    log.beforeAnswer = 0;
    log.events.clear();
    surface->DrawChar(style, U'あ');
    ASSERT_EQ(log.events.size(), 2u);
    EXPECT_EQ(log.events[0], std::make_pair(TextEvent::BeforeCharacter, std::uint32_t { U'あ' }));
    EXPECT_EQ(log.events[1], std::make_pair(TextEvent::AfterCharacter, std::uint32_t { U'あ' }));

    log.scrollAnswer = 1;
    surface->DrawChar(style, U'い');
    surface->DrawChar(style, U'う'); // wraps below the area; the callback takes the scroll
    EXPECT_EQ(log.Count(TextEvent::LineWrapped), 1);
    EXPECT_EQ(log.Count(TextEvent::ScrollNeeded), 1);
    EXPECT_EQ(style.cursorY, 16);
    EXPECT_EQ(style.cursorX, 16);
}

TEST(TextLayout, DirtyRectangleCoversTheStrokes)
{
    SurfacePtr surface = MakeSurface(64, 64);
    FontPtr font = NewFont(kMincho, 16);
    TextStyle style = StyleFor(font.get(), { 10, 10, 60, 60 }, kTextShadow | kTextEdge | kTextBold);
    surface->DrawChar(style, U'あ');
    EXPECT_EQ(surface->DirtyRect(), (Rect { 9, 9, 10 + 16 + 1 + 1 + 1, 10 + 16 + 1 + 1 }));
    surface->ClearDirty();
    TextStyle plain = StyleFor(font.get(), { 10, 10, 60, 60 });
    surface->DrawChar(plain, U'a');
    EXPECT_EQ(surface->DirtyRect(), (Rect { 10, 10, 18, 26 }));
}

// --- compositing --------------------------------------------------------------------

// Every pixel of a glyph drawn once, against the formulas computed from the
// glyph buffer the font left behind.
void ExpectCompositeFormulas(GlyphForm form)
{
    const std::uint32_t background = 0x60123456; // T 0x60
    const std::uint32_t colour = 0x00CDAB89; // 0x00BBGGRR
    SurfacePtr surface = MakeSurface(40, 40);
    for (std::int32_t y = 0; y < 40; ++y)
        for (std::int32_t x = 0; x < 40; ++x) {
            const std::uint32_t v = background + std::uint32_t((x * 3 + y * 5) & 0x3F) * 0x010101u;
            std::memcpy(surface->PixelAddress(x, y), &v, 4);
        }
    const kestrel::test::Frame before = FrameOf(*surface);
    FontPtr font = NewFont(kMincho, 24);
    TextStyle style = StyleFor(font.get(), { 5, 7, 40, 40 });
    style.textColour = colour;
    if (form == GlyphForm::AntiAliased)
        style.flags |= kTextAntiAliased;
    ASSERT_EQ(surface->DrawChar(style, U'鬱'), 1);

    const DxImage& buffer = *font->GlyphBuffer();
    const unsigned ink[3] = { 0xCD, 0xAB, 0x89 }; // blue, green, red
    int covered = 0;
    int partial = 0;
    for (std::int32_t y = 0; y < 40; ++y)
        for (std::int32_t x = 0; x < 40; ++x) {
            const std::uint8_t* old = &before.pixels[(std::size_t(y) * 40 + std::size_t(x)) * 4];
            std::uint8_t expected[4] = { old[0], old[1], old[2], old[3] };
            const std::int32_t gx = x - 5;
            const std::int32_t gy = y - 7;
            if (gx >= 0 && gx < 24 && gy >= 0 && gy < 24) {
                const unsigned alpha = 255u - old[3];
                if (form == GlyphForm::Normal) {
                    const unsigned c = *buffer.PixelAddress(gx, gy) * 16u;
                    EXPECT_TRUE(c == 0 || c == 240);
                    if (c > 0) {
                        ++covered;
                        for (int i = 0; i < 3; ++i)
                            expected[i] = static_cast<std::uint8_t>((old[i] * (255 - c) + ink[i] * c) / 255);
                        expected[3] = static_cast<std::uint8_t>(255 - (c * 255 + alpha * (255 - c)) / 255);
                    }
                } else {
                    unsigned b = 0;
                    for (int k = 0; k < 4; ++k)
                        for (int j = 0; j < 4; ++j)
                            b += *buffer.PixelAddress(gx * 4 + j, gy * 4 + k);
                    if (b > 0) {
                        ++covered;
                        partial += b < 240;
                        const unsigned g = std::min(255u, b + old[3]);
                        for (int i = 0; i < 3; ++i)
                            expected[i] = static_cast<std::uint8_t>((ink[i] * g + old[i] * (255 - g)) / 255);
                        expected[3] = static_cast<std::uint8_t>(255 - (b * 255 + alpha * (255 - b)) / 255);
                    }
                }
            }
            std::uint32_t want;
            std::memcpy(&want, expected, 4);
            ASSERT_EQ(PixelAt(*surface, x, y), want) << x << "," << y;
        }
    EXPECT_GT(covered, 50);
    if (form == GlyphForm::AntiAliased) {
        EXPECT_GT(partial, 10);
    }
}

TEST(TextGlyphs, NormalCompositeFollowsTheFormula)
{
    ExpectCompositeFormulas(GlyphForm::Normal);
}

TEST(TextGlyphs, AntiAliasedCompositeFollowsTheFormula)
{
    ExpectCompositeFormulas(GlyphForm::AntiAliased);
}

TEST(TextGlyphs, AFullNormalGlyphPixelWeighs240)
{
    SurfacePtr surface = MakeSurface(32, 32); // opaque black
    FontPtr font = NewFont(kGothic, 24);
    TextStyle style = StyleFor(font.get(), { 0, 0, 32, 32 });
    surface->DrawChar(style, U'■');
    EXPECT_EQ(PixelAt(*surface, 12, 12), 0x00F0F0F0u);
    for (std::int32_t y = 0; y < 32; ++y)
        for (std::int32_t x = 0; x < 32; ++x) {
            const std::uint32_t v = PixelAt(*surface, x, y);
            EXPECT_TRUE(v == 0 || v == 0x00F0F0F0u) << x << "," << y;
        }
}

TEST(TextGlyphs, AntiAliasedWhiteOnTransparentKeepsThePureColour)
{
    SurfacePtr surface = MakeSurface(64, 32);
    surface->Fill(nullptr, 0, 0);
    FontPtr font = NewFont(kMincho, 24);
    TextStyle style = StyleFor(font.get(), { 0, 0, 64, 32 }, kTextAntiAliased);
    surface->DrawChar(style, U'永');
    surface->DrawChar(style, U'あ');
    int partial = 0;
    int drawn = 0;
    for (std::int32_t y = 0; y < 32; ++y)
        for (std::int32_t x = 0; x < 64; ++x) {
            const std::uint32_t v = PixelAt(*surface, x, y);
            if (v == 0xFF000000u)
                continue;
            ++drawn;
            EXPECT_EQ(v & 0xFFFFFF, 0xFFFFFFu) << x << "," << y;
            const std::uint32_t t = v >> 24;
            partial += t > 255 - 240 && t < 255;
        }
    EXPECT_GT(drawn, 50);
    EXPECT_GT(partial, 20); // alpha varies along the edges
}

TEST(TextGlyphs, NormalGlyphsOnTransparentReach240)
{
    SurfacePtr surface = MakeSurface(32, 32);
    surface->Fill(nullptr, 0, 0);
    FontPtr font = NewFont(kGothic, 24);
    TextStyle style = StyleFor(font.get(), { 0, 0, 32, 32 });
    surface->DrawChar(style, U'■');
    // Alpha 240 (T 15), and the colour 240 of the way from black to white.
    EXPECT_EQ(PixelAt(*surface, 12, 12), 0x0FF0F0F0u);
}

TEST(TextGlyphs, EdgeOnlyDrawsTheOutlineWithoutTheFace)
{
    FontPtr font = NewFont(kMincho, 24);
    for (std::uint32_t flags : { kTextEdgeOnly, kTextEdgeOnly | kTextAntiAliased, kTextEdgeOnly | kTextBold }) {
        SurfacePtr surface = MakeSurface(40, 40);
        TextStyle style = StyleFor(font.get(), { 4, 4, 36, 36 }, flags);
        style.textColour = 0x0000FF; // red
        style.edgeColour = 0xFF0000; // blue
        surface->DrawChar(style, U'永');
        int blue = 0;
        for (std::int32_t y = 0; y < 40; ++y)
            for (std::int32_t x = 0; x < 40; ++x) {
                const std::uint32_t v = PixelAt(*surface, x, y);
                EXPECT_EQ(v & 0x00FFFF00u, 0u) << x << "," << y; // no red, no green
                blue += (v & 0xFF) != 0;
            }
        EXPECT_GT(blue, 50) << flags;

        // With the face the red is there.
        SurfacePtr faced = MakeSurface(40, 40);
        style = StyleFor(font.get(), { 4, 4, 36, 36 }, (flags & ~kTextEdgeOnly) | kTextEdge);
        style.textColour = 0x0000FF;
        faced->DrawChar(style, U'永');
        int red = 0;
        for (std::int32_t y = 0; y < 40; ++y)
            for (std::int32_t x = 0; x < 40; ++x)
                red += (PixelAt(*faced, x, y) & 0x00FF0000u) != 0;
        EXPECT_GT(red, 20) << flags;
    }
}

TEST(TextGlyphs, BoldAddsAColumnToTheRight)
{
    FontPtr font = NewFont(kMincho, 16);
    SurfacePtr plain = MakeSurface(24, 24);
    SurfacePtr bold = MakeSurface(24, 24);
    TextStyle a = StyleFor(font.get(), { 2, 2, 24, 24 });
    TextStyle b = StyleFor(font.get(), { 2, 2, 24, 24 }, kTextBold);
    plain->DrawChar(a, U'一');
    bold->DrawChar(b, U'一');
    // Every plain pixel is drawn in bold, and so is its right neighbour.
    int extra = 0;
    for (std::int32_t y = 0; y < 24; ++y)
        for (std::int32_t x = 0; x + 1 < 24; ++x) {
            if (PixelAt(*plain, x, y) != 0) {
                EXPECT_NE(PixelAt(*bold, x, y), 0u);
                EXPECT_NE(PixelAt(*bold, x + 1, y), 0u);
            }
            extra += PixelAt(*plain, x, y) == 0 && PixelAt(*bold, x, y) != 0;
        }
    EXPECT_GT(extra, 0);
}

TEST(TextGlyphs, DrawGlyphClipsToTheTarget)
{
    SurfacePtr surface = MakeSurface(20, 20);
    FontPtr font = NewFont(kMincho, 16);
    FontBeginRecord record;
    font->Begin(record, surface.get(), GlyphForm::Normal);
    Rect out { 1, 2, 3, 4 };
    font->DrawGlyph(record, 12, -6, U'あ', 0xFFFFFF, { 16, 16 }, &out);
    EXPECT_EQ(out, (Rect { 12, 0, 20, 10 }));
    EXPECT_EQ(record.lastCharacter, std::uint32_t { U'あ' });
    font->DrawGlyph(record, 30, 0, U'あ', 0xFFFFFF, { 16, 16 }, &out);
    EXPECT_TRUE(out.Empty());
    font->End(record);
    EXPECT_EQ(record.lastCharacter, 0u);
    EXPECT_EQ(record.dc, nullptr);
}

// --- golden pictures --------------------------------------------------------------------

constexpr std::u16string_view kGoldenText = u"吾輩は猫である。ｶﾀｶﾅ、ABC\n名前はまだ無い。";

// Two lines of Japanese text (full-width, half-width katakana, Latin, a line
// feed) with shadow and edge, white on a dark blue edge, in a 320 x 48 surface.
kestrel::test::Frame DrawGoldenText(GlyphForm form, bool transparent)
{
    SurfacePtr surface = MakeSurface(320, 48);
    if (transparent) {
        surface->Fill(nullptr, 0, 0);
    } else {
        for (std::int32_t y = 0; y < 48; ++y)
            for (std::int32_t x = 0; x < 320; ++x) {
                std::uint8_t* p = surface->PixelAddress(x, y);
                p[0] = static_cast<std::uint8_t>(120 + y * 2);
                p[1] = static_cast<std::uint8_t>(150 + x / 8);
                p[2] = static_cast<std::uint8_t>(200 - x / 4);
                p[3] = 0;
            }
    }
    FontPtr font = NewFont(kMincho, 20);
    TextStyle style = StyleFor(font.get(), { 3, 2, 317, 46 }, kTextShadow | kTextEdge);
    if (form == GlyphForm::AntiAliased)
        style.flags |= kTextAntiAliased;
    style.edgeColour = 0x602010;
    style.shadowColour = 0x000000;
    for (char16_t c : kGoldenText)
        surface->DrawChar(style, c);
    return FrameOf(*surface);
}

TEST(TextGolden, NormalGlyphsOnOpaque)
{
    EXPECT_TRUE(
        kestrel::test::MatchesGolden("dxdraw/golden/text_normal_opaque.png", DrawGoldenText(GlyphForm::Normal, false)));
}

TEST(TextGolden, AntiAliasedGlyphsOnOpaque)
{
    EXPECT_TRUE(kestrel::test::MatchesGolden(
        "dxdraw/golden/text_antialiased_opaque.png", DrawGoldenText(GlyphForm::AntiAliased, false)));
}

TEST(TextGolden, NormalGlyphsOnTransparent)
{
    EXPECT_TRUE(kestrel::test::MatchesGolden(
        "dxdraw/golden/text_normal_transparent.png", DrawGoldenText(GlyphForm::Normal, true)));
}

TEST(TextGolden, AntiAliasedGlyphsOnTransparent)
{
    EXPECT_TRUE(kestrel::test::MatchesGolden(
        "dxdraw/golden/text_antialiased_transparent.png", DrawGoldenText(GlyphForm::AntiAliased, true)));
}

TEST(TextDrawing, IsTheSameEveryTime)
{
    EXPECT_EQ(DrawGoldenText(GlyphForm::AntiAliased, true).pixels, DrawGoldenText(GlyphForm::AntiAliased, true).pixels);
    EXPECT_EQ(DrawGoldenText(GlyphForm::Normal, false).pixels, DrawGoldenText(GlyphForm::Normal, false).pixels);
}

TEST(TextDrawing, TwoStylesSharingAFontKeepTheirOwnGlyphs)
{
    FontPtr font = NewFont(kMincho, 20);
    const auto alone = [&](char16_t c) {
        SurfacePtr surface = MakeSurface(64, 32);
        TextStyle style = StyleFor(font.get(), {0, 0, 64, 32});
        surface->DrawChar(style, c);
        surface->DrawChar(style, c);
        return FrameOf(*surface).pixels;
    };
    const auto first = alone(u'吾');
    const auto second = alone(u'輩');

    // Both begun at once on one font: each surface gets its own glyphs, even
    // though the font's glyph buffer is shared between them.
    SurfacePtr a = MakeSurface(64, 32);
    SurfacePtr b = MakeSurface(64, 32);
    TextStyle styleA = StyleFor(font.get(), {0, 0, 64, 32});
    TextStyle styleB = StyleFor(font.get(), {0, 0, 64, 32});
    styleA.Begin(a.get());
    styleB.Begin(b.get());
    for (int i = 0; i < 2; ++i) {
        a->DrawChar(styleA, u'吾');
        b->DrawChar(styleB, u'輩');
    }
    styleB.End();
    styleA.End();
    EXPECT_EQ(FrameOf(*a).pixels, first);
    EXPECT_EQ(FrameOf(*b).pixels, second);
}

} // namespace
} // namespace DxDraw
