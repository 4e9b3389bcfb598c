// One face at one cell height: what a font handle selected into a device
// context gives Windows text output, done with FreeType.
//
// Implemented: cell heights (the LOGFONT height, ascent plus descent), text
// extents of single characters, and monochrome glyphs drawn into an 8-bit
// image, one palette index where a glyph covers a pixel. Not implemented:
// weight, italic, underline, strike-out, escapement and width; the text
// drawing does not use them (bold is drawn as a second stroke).
//
// The cell height is the face's ascender plus descender, so a Japanese face
// whose em square is its cell (as the Windows faces it stands for) puts
// full-width characters exactly one cell high and wide. Glyphs are hinted
// for monochrome output, as Windows draws them into palette bitmaps.
#pragma once

#include "dxdraw/font/face_resolver.h"

#include <cstdint>
#include <memory>
#include <unordered_map>

namespace DxDraw {
class DxImage;
}

namespace DxDraw::font {

class ScaledFont {
public:
    // Nothing when the file cannot be opened as a scalable face or the
    // height is not positive.
    static std::unique_ptr<ScaledFont> Open(const FaceFile& face, std::int32_t cellHeight);
    ~ScaledFont();
    ScaledFont(const ScaledFont&) = delete;
    ScaledFont& operator=(const ScaledFont&) = delete;

    std::int32_t CellHeight() const { return m_cellHeight; }
    // Pixels from the top of the cell to the baseline.
    std::int32_t Ascent() const { return m_ascent; }
    // The width of the character as text output advances by it.
    std::int32_t TextExtent(char32_t code);
    // Whether the face maps the character to a glyph of its own.
    bool HasGlyph(char32_t code) const;
    // Sets the pixels the glyph covers to `value`, its cell's top-left corner
    // at (x, y); pixels outside the image are cut. The rest is left alone.
    void Draw(DxImage& image, std::int32_t x, std::int32_t y, char32_t code, std::uint8_t value);

private:
    struct Face;
    ScaledFont(std::unique_ptr<Face> face, std::int32_t cellHeight, std::int32_t ascent);

    std::unique_ptr<Face> m_face;
    std::int32_t m_cellHeight;
    std::int32_t m_ascent;
    std::unordered_map<char32_t, std::int32_t> m_extents;
};

} // namespace DxDraw::font
