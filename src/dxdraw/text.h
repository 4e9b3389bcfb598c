// Text drawn one character at a time into 32-bit surfaces.
//
// A font object (DxFont) owns the face at two sizes, the normal one and one
// four times as large, and an 8-bit glyph buffer. A character is drawn into
// the buffer as palette index 15 on black (monochrome, as Windows draws text
// into a palette bitmap) and then composited into the surface with the text
// colour and correct alpha, so that text on transparent surfaces can be
// blended over pictures later. The anti-aliased form draws the glyph four
// times as large and sums each 4 x 4 block of the buffer into one pixel.
//
// A text style (TextStyle) is one text area: its font, rectangle, cursor,
// colours, flags and event callback. DxSurface32::DrawChar places one
// character with it: wrapping, scrolling, the shadow, edge, face and bold
// strokes, and dirty marking.
//
// Main thread only: a font's glyph buffer is shared by everything drawing
// with it.
#pragma once

#include "dxdraw/surface.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

namespace DxDraw {

namespace font {
class ScaledFont;
}

inline constexpr std::size_t kFaceNameUnits = 32;
// The palette index glyphs are drawn with; a fully covered pixel of a normal
// glyph weighs 15 x 16 = 240, a fully covered 4 x 4 block 16 x 15 = 240.
inline constexpr std::uint8_t kGlyphInk = 15;

// The logical font, as the text drawing describes a font: only the height
// and the face name choose the face (see font/scaled_font.h).
struct LogFont {
    std::int32_t height = 16;
    std::int32_t width = 0;
    std::int32_t escapement = 0;
    std::int32_t orientation = 0;
    std::int32_t weight = 400;
    std::uint8_t italic = 0;
    std::uint8_t underline = 0;
    std::uint8_t strikeOut = 0;
    std::uint8_t charSet = 1;
    std::uint8_t outPrecision = 0;
    std::uint8_t clipPrecision = 0;
    std::uint8_t quality = 0;
    std::uint8_t pitchAndFamily = 1;
    std::array<char16_t, kFaceNameUnits> faceName {}; // NUL-terminated

    // The face name up to its NUL.
    std::u16string_view Face() const;
    // Copies at most 31 units (never half a surrogate pair) and the NUL.
    void SetFaceName(std::u16string_view face);
};

// What a font Begin hands to the drawing of one text style.
struct FontBeginRecord {
    bool antiAliased = false;
    DxSurface* target = nullptr;
    DrawingContext* dc = nullptr; // the glyph buffer's, while begun
    font::ScaledFont* previousFont = nullptr; // selected before Begin
    std::uint32_t lastCharacter = 0; // in the glyph buffer; 0 = none
};

struct CharacterSize {
    std::int32_t width = 0;
    std::int32_t height = 0;
    friend bool operator==(const CharacterSize&, const CharacterSize&) = default;
};

enum class GlyphForm { Normal, AntiAliased };

// The font object. Reference counted: one reference after construction,
// deleted by the Release that drops the count to 0.
class DxFont {
public:
    DxFont();
    DxFont(const DxFont&) = delete;
    DxFont& operator=(const DxFont&) = delete;

    // The default font: height 16, face "ＭＳ 明朝". False when no face could
    // be opened (text is then measured but not drawn).
    bool Create();
    // Height and face (at most 31 units of the name), every other field reset
    // to its plain value, then the fonts rebuilt. While a Begin is open this
    // is a programming error: reported, and nothing changes.
    bool SetFace(std::u16string_view faceName, std::int32_t height);

    std::int32_t AddRef() { return ++m_refCount; }
    std::int32_t Release();

    // Nesting: only the first level fills the record, takes the glyph
    // buffer's context and selects the 4x or the normal font.
    void Begin(FontBeginRecord& record, DxSurface* target, GlyphForm form);
    void End(FontBeginRecord& record);
    // Composites the character's glyph of `size` (the normal-size cell) in
    // `colour` (0x00BBGGRR) at (x, y) of the record's target. `outRect`
    // receives the rectangle written, clipped to the target (empty when
    // nothing was). The glyph is drawn into the buffer only when the
    // character differs from the one drawn last.
    void DrawGlyph(FontBeginRecord& record, std::int32_t x, std::int32_t y, std::uint32_t character,
        std::uint32_t colour, CharacterSize size, Rect* outRect);

    const LogFont& Logical() const { return m_logFont; }
    std::int32_t Height() const { return m_logFont.height; }
    // Whether a face was found and opened at both sizes.
    bool HasFace() const { return m_font && m_font4x; }
    // The installed family that stands for the face name ("" when none).
    std::u16string_view FamilyName() const { return m_family; }
    std::int32_t BeginCount() const { return m_nBeginCount; }
    DxImage* GlyphBuffer() const { return m_glyphBuffer.get(); }
    // The text extent of the character in the selected font (the normal one
    // when none is selected); 0 without a face.
    std::int32_t TextExtent(std::uint32_t character) const;
    // Whether the 4x font is the selected one.
    bool FourTimesSelected() const { return m_selected && m_selected == m_font4x.get(); }

private:
    ~DxFont(); // through Release only

    bool Rebuild();
    void CompositeNormal(
        DxSurface& target, const Rect& clipped, std::int32_t x, std::int32_t y, std::uint32_t colour) const;
    void SumCoverage();
    void CompositeAntiAliased(
        DxSurface& target, const Rect& clipped, std::int32_t x, std::int32_t y, std::uint32_t colour) const;

    LogFont m_logFont;
    std::unique_ptr<DxImage> m_glyphBuffer;
    std::unique_ptr<font::ScaledFont> m_font; // the normal font
    std::unique_ptr<font::ScaledFont> m_font4x; // the same face four times as high
    std::int32_t m_nBeginCount = 0;
    std::int32_t m_refCount = 1;
    font::ScaledFont* m_selected = nullptr; // the font of the glyph buffer's context
    // The glyph the shared buffer holds (0 = none). The font keeps it, not a
    // begin record, so that two styles sharing a font never trust a glyph
    // the other one drew.
    std::uint32_t m_bufferCharacter = 0;
    std::u16string m_family;
    // The 4 x 4 sums of the buffer, taken when an anti-aliased glyph is drawn.
    std::vector<std::uint8_t> m_coverage;
    std::int32_t m_coverageWidth = 0;
};

// Holds one font reference.
struct FontRelease {
    void operator()(DxFont* font) const
    {
        if (font)
            font->Release();
    }
};
using FontPtr = std::unique_ptr<DxFont, FontRelease>;

// A new font object with the face and height (see DxFont::SetFace).
FontPtr NewFont(std::u16string_view faceName, std::int32_t height);

// Text style flags.
inline constexpr std::uint32_t kTextBold = 0x1;
inline constexpr std::uint32_t kTextShadow = 0x2;
inline constexpr std::uint32_t kTextEdge = 0x4;
inline constexpr std::uint32_t kTextEdgeOnly = 0x8; // the outline without the face
inline constexpr std::uint32_t kTextProportional = 0x10;
inline constexpr std::uint32_t kTextAntiAliased = 0x8000;

enum class TextEvent : int {
    BeforeCharacter = 0, // returning 1 skips the character
    AfterCharacter = 1,
    LineWrapped = 2,
    LineFeed = 3,
    ScrollNeeded = 4, // returning non-zero suppresses the built-in scroll
};

struct TextStyle;
using TextEventCallback
    = std::function<int(TextStyle& style, DxSurface& surface, TextEvent event, std::uint32_t character)>;

// One text area. The style does not own its font: whoever sets pFont holds
// the reference.
struct TextStyle {
    std::int32_t characterSpacing = 0; // added to each advance
    std::int32_t lineSpacing = 0; // added to the font height for the line advance
    std::int32_t m_BeginCount = 0;
    FontBeginRecord begin;
    Rect area; // in surface coordinates
    std::int32_t cursorX = 0; // relative to the area
    std::int32_t cursorY = 0;
    std::uint32_t textColour = 0xFFFFFF; // 0x00BBGGRR
    std::uint32_t shadowColour = 0;
    std::uint32_t edgeColour = 0;
    std::uint32_t flags = 0;
    TextEventCallback callback;
    DxFont* pFont = nullptr;

    // Back to the values above (no font, white text, black shadow and edge).
    void Init();
    // Nesting: the first level begins the font (4x glyphs with kTextAntiAliased).
    void Begin(DxSurface* surface);
    void End();
    // Needs a begun style. Height: the font height. Width: with
    // kTextProportional the character's text extent; otherwise half the height
    // for code points 0-255 and the half-width forms U+FF61-U+FF9F and the
    // full height for the rest.
    CharacterSize CharSize(std::uint32_t character);
    // The sum of CharSize widths over the code points of `text`; a negative
    // length reads up to the first NUL.
    std::int32_t TextWidth(const char16_t* text, std::int32_t length);
    std::int32_t TextWidth(std::u16string_view text);
};

} // namespace DxDraw
