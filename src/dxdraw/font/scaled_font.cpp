#include "dxdraw/font/scaled_font.h"

#include "dxdraw/surface.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cstdlib>
#include <mutex>

namespace DxDraw::font {

namespace {

// One FreeType library for the process; every open face keeps it alive, so
// the order in which statics and fonts go away does not matter.
class Library {
public:
    Library()
    {
        if (FT_Init_FreeType(&m_handle) != 0)
            m_handle = nullptr;
    }
    ~Library()
    {
        if (m_handle)
            FT_Done_FreeType(m_handle);
    }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
    FT_Library handle() const { return m_handle; }

private:
    FT_Library m_handle = nullptr;
};

std::shared_ptr<Library> SharedLibrary()
{
    static std::mutex mutex;
    static std::shared_ptr<Library> library;
    std::lock_guard lock(mutex);
    if (!library)
        library = std::make_shared<Library>();
    return library->handle() ? library : nullptr;
}

// Monochrome glyphs: one bit per pixel, hinted for that target, as Windows
// draws text into palette bitmaps.
constexpr FT_Int32 kLoadFlags = FT_LOAD_TARGET_MONO;

} // namespace

struct ScaledFont::Face {
    std::shared_ptr<Library> library;
    FT_Face face = nullptr;

    ~Face()
    {
        if (face)
            FT_Done_Face(face);
    }
};

std::unique_ptr<ScaledFont> ScaledFont::Open(const FaceFile& file, std::int32_t cellHeight)
{
    if (cellHeight <= 0)
        return nullptr;
    auto face = std::make_unique<Face>();
    face->library = SharedLibrary();
    if (!face->library || FT_New_Face(face->library->handle(), file.path.c_str(), file.index, &face->face) != 0) {
        face->face = nullptr;
        return nullptr;
    }
    FT_Face f = face->face;
    if (!FT_IS_SCALABLE(f))
        return nullptr;
    FT_Select_Charmap(f, FT_ENCODING_UNICODE);

    // The cell is ascender plus descender (the real dimensions); the ascent
    // is the ascender's share of the cell, rounded to whole pixels.
    std::int64_t above = f->ascender;
    std::int64_t below = -std::int64_t { f->descender };
    if (above <= 0 || below < 0 || above + below <= 0) {
        above = f->units_per_EM * 4 / 5;
        below = f->units_per_EM - above;
    }
    FT_Size_RequestRec request {};
    request.type = FT_SIZE_REQUEST_TYPE_REAL_DIM;
    request.height = FT_Long { cellHeight } * 64;
    if (FT_Request_Size(f, &request) != 0)
        return nullptr;
    const std::int64_t total = above + below;
    const auto ascent = static_cast<std::int32_t>((cellHeight * above + total / 2) / total);
    return std::unique_ptr<ScaledFont>(new ScaledFont(std::move(face), cellHeight, ascent));
}

ScaledFont::ScaledFont(std::unique_ptr<Face> face, std::int32_t cellHeight, std::int32_t ascent)
    : m_face(std::move(face))
    , m_cellHeight(cellHeight)
    , m_ascent(ascent)
{
}

ScaledFont::~ScaledFont() = default;

bool ScaledFont::HasGlyph(char32_t code) const
{
    return FT_Get_Char_Index(m_face->face, code) != 0;
}

std::int32_t ScaledFont::TextExtent(char32_t code)
{
    if (auto found = m_extents.find(code); found != m_extents.end())
        return found->second;
    std::int32_t extent = 0;
    if (FT_Load_Char(m_face->face, code, kLoadFlags) == 0)
        extent = static_cast<std::int32_t>((m_face->face->glyph->advance.x + 32) >> 6);
    m_extents.emplace(code, extent);
    return extent;
}

void ScaledFont::Draw(DxImage& image, std::int32_t x, std::int32_t y, char32_t code, std::uint8_t value)
{
    if (!image.HasPixels() || image.BitDepth() != 8)
        return;
    FT_Face f = m_face->face;
    if (FT_Load_Char(f, code, kLoadFlags | FT_LOAD_RENDER) != 0)
        return;
    const FT_GlyphSlot slot = f->glyph;
    const FT_Bitmap& bitmap = slot->bitmap;
    const bool mono = bitmap.pixel_mode == FT_PIXEL_MODE_MONO;
    if (!mono && bitmap.pixel_mode != FT_PIXEL_MODE_GRAY)
        return;
    const std::int32_t left = x + slot->bitmap_left;
    const std::int32_t top = y + m_ascent - slot->bitmap_top;
    const auto rows = static_cast<std::int32_t>(bitmap.rows);
    const auto width = static_cast<std::int32_t>(bitmap.width);
    const std::int32_t firstRow = std::max(0, -top);
    const std::int32_t lastRow = std::min(rows, image.AbsHeight() - top);
    const std::int32_t firstColumn = std::max(0, -left);
    const std::int32_t lastColumn = std::min(width, image.Width() - left);
    for (std::int32_t r = firstRow; r < lastRow; ++r) {
        // A negative pitch stores the rows bottom-up from the buffer's start.
        const std::ptrdiff_t stored = bitmap.pitch >= 0 ? r : rows - 1 - r;
        const unsigned char* in = bitmap.buffer + stored * std::abs(bitmap.pitch);
        std::uint8_t* out = image.PixelAddress(0, top + r);
        if (mono) {
            for (std::int32_t c = firstColumn; c < lastColumn; ++c) {
                const unsigned bits = in[c >> 3];
                if (bits == 0) {
                    c |= 7; // the rest of an empty byte
                    continue;
                }
                if (bits & (0x80u >> (c & 7)))
                    out[left + c] = value;
            }
        } else {
            // Embedded bitmaps may come as grey levels; half coverage counts.
            for (std::int32_t c = firstColumn; c < lastColumn; ++c) {
                if (in[c] >= 128)
                    out[left + c] = value;
            }
        }
    }
}

} // namespace DxDraw::font
