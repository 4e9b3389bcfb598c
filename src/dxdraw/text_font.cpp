// The font object: the face at two sizes, the glyph buffer, and the
// compositing of one glyph into a 32-bit surface.
#include "dxdraw/text.h"

#include "core/report.h"
#include "core/text.h"
#include "dxdraw/font/face_resolver.h"
#include "dxdraw/font/scaled_font.h"

#include <algorithm>
#include <cstring>

namespace DxDraw {

namespace {

constexpr const char* kFontSource = "dxdraw/dxdraw";
constexpr std::u16string_view kDefaultFace = u"ＭＳ 明朝";

Rect Intersect(const Rect& a, const Rect& b)
{
    const Rect r { std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
        std::min(a.bottom, b.bottom) };
    return r.Empty() ? Rect {} : r;
}

// The colour 0x00BBGGRR as the pixel's byte order: blue, green, red.
struct Channels {
    unsigned c[3];
};

Channels ChannelsOf(std::uint32_t colour)
{
    return { { (colour >> 16) & 0xFF, (colour >> 8) & 0xFF, colour & 0xFF } };
}

} // namespace

// --- LogFont ------------------------------------------------------------------

std::u16string_view LogFont::Face() const
{
    const auto end = std::find(faceName.begin(), faceName.end(), u'\0');
    return { faceName.data(), static_cast<std::size_t>(end - faceName.begin()) };
}

void LogFont::SetFaceName(std::u16string_view face)
{
    faceName.fill(u'\0');
    const std::u16string_view kept = kestrel::TruncateUtf16(face, kFaceNameUnits);
    std::copy(kept.begin(), kept.end(), faceName.begin());
}

// --- DxFont -------------------------------------------------------------------

DxFont::DxFont() = default;

DxFont::~DxFont()
{
    if (m_nBeginCount != 0)
        kestrel::AssertReport("m_nBeginCount==0", kFontSource, __LINE__);
    if (m_glyphBuffer)
        m_glyphBuffer->ReleaseDC();
}

std::int32_t DxFont::Release()
{
    if (m_refCount <= 0)
        return 0;
    if (--m_refCount == 0) {
        delete this;
        return 0;
    }
    return m_refCount;
}

bool DxFont::Create()
{
    m_logFont = LogFont {};
    m_logFont.SetFaceName(kDefaultFace);
    return Rebuild();
}

bool DxFont::SetFace(std::u16string_view faceName, std::int32_t height)
{
    // The rebuild would be refused; the logical font stays as it is too.
    if (m_nBeginCount != 0) {
        kestrel::AssertReport("m_nBeginCount == 0", kFontSource, __LINE__);
        return false;
    }
    LogFont font;
    font.height = height;
    font.pitchAndFamily = 0;
    font.SetFaceName(faceName);
    m_logFont = font;
    return Rebuild();
}

bool DxFont::Rebuild()
{
    // Rebuilding pulls the buffer and the fonts away from under any open
    // Begin, so it is refused while one is open.
    if (m_nBeginCount != 0) {
        kestrel::AssertReport("m_nBeginCount == 0", kFontSource, __LINE__);
        return false;
    }
    m_selected = nullptr;
    m_bufferCharacter = 0;
    if (m_glyphBuffer) {
        m_glyphBuffer->ReleaseDC();
        m_glyphBuffer.reset();
    }
    m_font4x.reset();
    m_font.reset();
    m_family.clear();
    m_coverage.clear();
    m_coverageWidth = 0;

    const std::int32_t height = m_logFont.height;
    if (height <= 0 || height > kMaxPictureSide / 6)
        return false;
    if (const std::optional<font::FaceFile> face = font::ResolveFace(m_logFont.Face())) {
        m_font4x = font::ScaledFont::Open(*face, height * 4);
        m_font = font::ScaledFont::Open(*face, height);
        if (m_font && m_font4x) {
            m_family = face->family;
        } else {
            m_font4x.reset();
            m_font.reset();
            kestrel::DebugOutput(u"font: cannot open " + kestrel::Utf8ToUtf16(face->path));
        }
    }
    // Top-down rows, so that a glyph's rows follow each other in memory.
    auto buffer = std::make_unique<DxImage>(8);
    if (!buffer->Create((height + height / 2) * 4, -(height * 4)))
        return false;
    buffer->GetDC(); // kept for the life of the buffer
    m_glyphBuffer = std::move(buffer);
    return HasFace();
}

void DxFont::Begin(FontBeginRecord& record, DxSurface* target, GlyphForm form)
{
    if (m_nBeginCount == 0) {
        record.antiAliased = form == GlyphForm::AntiAliased;
        record.target = target;
        record.lastCharacter = 0;
        record.dc = m_glyphBuffer ? m_glyphBuffer->GetDC() : nullptr;
        record.previousFont = m_selected;
        // Black background, palette index 15 for the glyphs: see DrawGlyph.
        m_selected = record.antiAliased ? m_font4x.get() : m_font.get();
        m_bufferCharacter = 0;
    } else {
        // A nested begin draws with the font as it is selected, into its own target.
        record.antiAliased = m_selected == m_font4x.get();
        record.target = target;
        record.lastCharacter = 0;
    }
    ++m_nBeginCount;
}

void DxFont::End(FontBeginRecord& record)
{
    if (m_nBeginCount <= 0) {
        kestrel::AssertReport("m_nBeginCount", kFontSource, __LINE__);
        return;
    }
    if (--m_nBeginCount == 0) {
        m_selected = record.previousFont;
        if (record.dc && m_glyphBuffer)
            m_glyphBuffer->ReleaseDC();
        record.dc = nullptr;
        record.lastCharacter = 0;
        record.target = nullptr; // the surface may go away after End
        m_bufferCharacter = 0;
    }
}

std::int32_t DxFont::TextExtent(std::uint32_t character) const
{
    font::ScaledFont* selected = m_selected ? m_selected : m_font.get();
    return selected ? selected->TextExtent(character) : 0;
}

void DxFont::DrawGlyph(FontBeginRecord& record, std::int32_t x, std::int32_t y, std::uint32_t character,
    std::uint32_t colour, CharacterSize size, Rect* outRect)
{
    if (outRect)
        *outRect = {};
    DxSurface* target = record.target;
    if (!target || !target->HasPixels() || target->BitDepth() != 32 || !m_glyphBuffer)
        return;
    const std::int32_t scale = record.antiAliased ? 4 : 1;

    // Character 0 never matches the cache, so it always leaves an empty buffer.
    if (character != m_bufferCharacter || character == 0) {
        for (std::int32_t row = 0; row < m_glyphBuffer->AbsHeight(); ++row)
            std::memset(m_glyphBuffer->PixelAddress(0, row), 0, m_glyphBuffer->RowBytes());
        if (m_selected && character != 0)
            m_selected->Draw(*m_glyphBuffer, 0, 0, character, kGlyphInk);
        record.lastCharacter = character;
        m_bufferCharacter = character;
        if (record.antiAliased)
            SumCoverage();
    }

    // The cell never reads past the buffer, whatever a proportional extent says.
    size.width = std::clamp(size.width, 0, m_glyphBuffer->Width() / scale);
    size.height = std::clamp(size.height, 0, m_glyphBuffer->AbsHeight() / scale);
    const Rect clipped
        = Intersect({ x, y, x + size.width, y + size.height }, { 0, 0, target->Width(), target->AbsHeight() });
    if (clipped.Empty())
        return;
    if (record.antiAliased)
        CompositeAntiAliased(*target, clipped, x, y, colour);
    else
        CompositeNormal(*target, clipped, x, y, colour);
    if (outRect)
        *outRect = clipped;
}

// Coverage c = buffer value x 16, so a covered pixel weighs 240 of 255:
//   d = (d * (255 - c) + colour * c) / 255, alpha = (c * 255 + alpha * (255 - c)) / 255.
void DxFont::CompositeNormal(
    DxSurface& target, const Rect& clipped, std::int32_t x, std::int32_t y, std::uint32_t colour) const
{
    const Channels ink = ChannelsOf(colour);
    for (std::int32_t row = clipped.top; row < clipped.bottom; ++row) {
        const std::uint8_t* glyph = m_glyphBuffer->PixelAddress(clipped.left - x, row - y);
        std::uint8_t* p = target.PixelAddress(clipped.left, row);
        for (std::int32_t column = clipped.left; column < clipped.right; ++column, ++glyph, p += 4) {
            const unsigned value = std::min<unsigned>(*glyph, kGlyphInk);
            if (value == 0)
                continue;
            const unsigned c = value * 16;
            for (int i = 0; i < 3; ++i)
                p[i] = static_cast<std::uint8_t>((p[i] * (255 - c) + ink.c[i] * c) / 255);
            const unsigned alpha = 255u - p[3];
            p[3] = static_cast<std::uint8_t>(255 - (c * 255 + alpha * (255 - c)) / 255);
        }
    }
}

// Coverage b = the sum of the 4 x 4 buffer pixels under a destination pixel
// (0 ... 240). Every stroke of a glyph reads the same sums, so they are taken
// once, when the glyph is drawn into the buffer.
void DxFont::SumCoverage()
{
    m_coverageWidth = m_glyphBuffer->Width() / 4;
    const std::int32_t rows = m_glyphBuffer->AbsHeight() / 4;
    m_coverage.assign(std::size_t(m_coverageWidth) * std::size_t(rows), 0);
    for (std::int32_t row = 0; row < rows; ++row) {
        std::uint8_t* out = &m_coverage[std::size_t(row) * std::size_t(m_coverageWidth)];
        for (int k = 0; k < 4; ++k) {
            const std::uint8_t* in = m_glyphBuffer->PixelAddress(0, row * 4 + k);
            for (std::int32_t column = 0; column < m_coverageWidth; ++column, in += 4) {
                const unsigned sum = out[column] + unsigned { in[0] } + in[1] + in[2] + in[3];
                out[column] = static_cast<std::uint8_t>(std::min(sum, 16u * kGlyphInk));
            }
        }
    }
}

// The colour weight g = min(255, b + T) adds the destination's transparency,
// so glyphs on transparent pixels take the pure text colour and only alpha
// varies:
//   d = (colour * g + d * (255 - g)) / 255, alpha = (b * 255 + alpha * (255 - b)) / 255.
void DxFont::CompositeAntiAliased(
    DxSurface& target, const Rect& clipped, std::int32_t x, std::int32_t y, std::uint32_t colour) const
{
    if (m_coverage.empty())
        return;
    const Channels ink = ChannelsOf(colour);
    for (std::int32_t row = clipped.top; row < clipped.bottom; ++row) {
        const std::uint8_t* coverage
            = &m_coverage[std::size_t(row - y) * std::size_t(m_coverageWidth) + std::size_t(clipped.left - x)];
        std::uint8_t* p = target.PixelAddress(clipped.left, row);
        for (std::int32_t column = clipped.left; column < clipped.right; ++column, ++coverage, p += 4) {
            const unsigned b = *coverage;
            if (b == 0)
                continue;
            const unsigned g = std::min(255u, b + p[3]);
            for (int i = 0; i < 3; ++i)
                p[i] = static_cast<std::uint8_t>((ink.c[i] * g + p[i] * (255 - g)) / 255);
            const unsigned alpha = 255u - p[3];
            p[3] = static_cast<std::uint8_t>(255 - (b * 255 + alpha * (255 - b)) / 255);
        }
    }
}

FontPtr NewFont(std::u16string_view faceName, std::int32_t height)
{
    FontPtr font(new DxFont);
    font->SetFace(faceName, height);
    return font;
}

} // namespace DxDraw
