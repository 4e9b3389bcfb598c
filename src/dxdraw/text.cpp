// Text styles and DxSurface32::DrawChar: measuring, wrapping, scrolling and
// the strokes of one character.
#include "dxdraw/text.h"

#include "core/report.h"
#include "core/text.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace DxDraw {

namespace {

constexpr const char* kStyleSource = "dxdraw/dxdraw";
constexpr const char* kSurfaceSource = "dxdraw/dxsurface";
constexpr std::uint32_t kLineFeed = 10;

bool HalfWidth(std::uint32_t character)
{
    return character <= 0xFF || (character >= 0xFF61 && character <= 0xFF9F);
}

int Notify(TextStyle& style, DxSurface& surface, TextEvent event, std::uint32_t character)
{
    return style.callback ? style.callback(style, surface, event, character) : 0;
}

// Ends the style on every way out of DrawChar, exceptions included.
class StyleScope {
public:
    StyleScope(TextStyle& style, DxSurface* surface)
        : m_style(style)
    {
        m_style.Begin(surface);
    }
    ~StyleScope() { m_style.End(); }
    StyleScope(const StyleScope&) = delete;
    StyleScope& operator=(const StyleScope&) = delete;

private:
    TextStyle& m_style;
};

// Moves the area's pixels up by `lines` rows, transparency bytes included;
// the rows that come free keep their old pixels.
void ScrollUp(DxSurface& surface, const Rect& area, std::int32_t lines)
{
    const Rect inside { std::max(area.left, 0), std::max(area.top, 0), std::min(area.right, surface.Width()),
        std::min(area.bottom, surface.AbsHeight()) };
    if (inside.Empty() || lines <= 0)
        return;
    const std::size_t bytes = std::size_t(inside.Width()) * 4;
    for (std::int32_t row = inside.top; row + lines < inside.bottom; ++row) {
        std::memmove(surface.PixelAddress(inside.left, row), surface.PixelAddress(inside.left, row + lines), bytes);
    }
}

} // namespace

// --- TextStyle ----------------------------------------------------------------

void TextStyle::Init()
{
    *this = TextStyle {};
}

void TextStyle::Begin(DxSurface* surface)
{
    if (m_BeginCount == 0 && pFont)
        pFont->Begin(begin, surface, (flags & kTextAntiAliased) ? GlyphForm::AntiAliased : GlyphForm::Normal);
    ++m_BeginCount;
}

void TextStyle::End()
{
    if (m_BeginCount <= 0) {
        kestrel::AssertReport("m_BeginCount", kStyleSource, __LINE__);
        return;
    }
    if (--m_BeginCount == 0 && pFont)
        pFont->End(begin);
}

CharacterSize TextStyle::CharSize(std::uint32_t character)
{
    if (m_BeginCount == 0)
        kestrel::AssertReport("hdc!=NULL || m_BeginCount!=0", kStyleSource, __LINE__);
    if (!pFont)
        return {};
    CharacterSize size;
    size.height = pFont->Height();
    if (flags & kTextProportional) {
        size.width = pFont->TextExtent(character);
        if (pFont->FourTimesSelected())
            size.width /= 4;
    } else {
        size.width = HalfWidth(character) ? size.height / 2 : size.height;
    }
    return size;
}

std::int32_t TextStyle::TextWidth(const char16_t* text, std::int32_t length)
{
    if (!text)
        return 0;
    const std::ptrdiff_t units = length < 0 ? std::ptrdiff_t(std::char_traits<char16_t>::length(text)) : length;
    std::int32_t width = 0;
    const char16_t* end = text + units;
    for (const char16_t* p = text; p < end;) {
        char32_t code = 0;
        p = kestrel::DecodeUtf16(p, end - p, &code);
        if (!p)
            break;
        width += CharSize(code).width;
    }
    return width;
}

std::int32_t TextStyle::TextWidth(std::u16string_view text)
{
    return TextWidth(text.data(), static_cast<std::int32_t>(text.size()));
}

// --- DrawChar -----------------------------------------------------------------

std::int32_t DxSurface32::DrawChar(TextStyle& style, std::uint32_t code)
{
    if (Notify(style, *this, TextEvent::BeforeCharacter, code) == 1)
        return 0;
    StyleScope scope(style, this);

    const CharacterSize glyph = style.CharSize(code);
    // The extra spacing goes into the cell: it widens the advance and the
    // wrap test alike (the engine leaves it 0).
    const CharacterSize cell { glyph.width + style.characterSpacing, glyph.height + style.lineSpacing };

    if (style.cursorX + cell.width > style.area.Width()) {
        style.cursorY += cell.height;
        style.cursorX = 0;
        Notify(style, *this, TextEvent::LineWrapped, code);
    }
    if (style.cursorY + cell.height - style.lineSpacing > style.area.Height()
        && Notify(style, *this, TextEvent::ScrollNeeded, code) == 0) {
        if (GetDC()) {
            ScrollUp(*this, style.area, cell.height);
            ReleaseDC();
        }
        style.cursorY -= cell.height;
        // Fill does not clip: the strip is kept inside the surface.
        const Rect strip { std::max(style.area.left, 0), std::max(0, style.area.bottom - cell.height),
            std::min(style.area.right, Width()), std::min(style.area.bottom, AbsHeight()) };
        if (!strip.Empty())
            Fill(&strip, 0, 0);
        MarkDirty(&style.area);
    }

    DxFont* font = style.pFont;
    if (!font) {
        kestrel::AssertReport("pData->pFont", kSurfaceSource, __LINE__);
        return 0;
    }

    if (code == kLineFeed) {
        style.cursorX = 0;
        style.cursorY += cell.height;
        Notify(style, *this, TextEvent::LineFeed, code);
        return 1;
    }

    const std::int32_t x = style.area.left + style.cursorX;
    const std::int32_t y = style.area.top + style.cursorY;
    const bool bold = (style.flags & kTextBold) != 0;
    const bool shadow = (style.flags & kTextShadow) != 0;
    const bool edge = (style.flags & (kTextEdge | kTextEdgeOnly)) != 0;
    const bool face = (style.flags & kTextEdgeOnly) == 0;
    // Every stroke draws the same glyph, so the buffer is drawn once and the
    // strokes only composite it.
    const auto stroke = [&](std::int32_t px, std::int32_t py, std::uint32_t colour) {
        font->DrawGlyph(style.begin, px, py, code, colour, glyph, nullptr);
    };

    if (shadow) {
        if (edge) {
            // Under an edge the shadow is the whole 3 x 3 block, one pixel down
            // and right of the edge's block.
            for (std::int32_t dy = 0; dy <= 2; ++dy)
                for (std::int32_t dx = 0; dx <= 2; ++dx)
                    stroke(x + dx, y + dy, style.shadowColour);
            if (bold) {
                for (std::int32_t dy = 0; dy <= 2; ++dy)
                    stroke(x + 3, y + dy, style.shadowColour);
            }
        } else {
            stroke(x + 1, y + 1, style.shadowColour);
            if (bold)
                stroke(x + 2, y + 1, style.shadowColour);
        }
    }
    if (edge) {
        for (std::int32_t dy = -1; dy <= 1; ++dy)
            for (std::int32_t dx = -1; dx <= 1; ++dx)
                if (dx != 0 || dy != 0)
                    stroke(x + dx, y + dy, style.edgeColour);
        if (bold) {
            for (std::int32_t dy = -1; dy <= 1; ++dy)
                stroke(x + 2, y + dy, style.edgeColour);
        }
    }
    if (face) {
        stroke(x, y, style.textColour);
        if (bold)
            stroke(x + 1, y, style.textColour);
    }

    style.cursorX += cell.width;
    const std::int32_t grow = edge ? 1 : 0;
    const Rect dirty { x - grow, y - grow, x + glyph.width + (bold ? 1 : 0) + (shadow ? 1 : 0) + grow,
        y + glyph.height + (shadow ? 1 : 0) + grow };
    MarkDirty(&dirty);
    Notify(style, *this, TextEvent::AfterCharacter, code);
    return 1;
}

} // namespace DxDraw
