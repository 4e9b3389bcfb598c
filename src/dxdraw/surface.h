// 32-bit pictures in memory and every drawing operation on them.
//
// Pixels are four bytes in memory order blue, green, red, T, where T = 255 -
// alpha: 0 is opaque, 255 fully transparent, and a fresh image is opaque
// black. Rows follow the bitmap convention: a positive height stores rows
// bottom-up, a negative one top-down; PixelAddress hides the difference.
#pragma once

#include "archive/archive.h"
#include "core/rect.h"
#include "dxdraw/blend.h"
#include "dxdraw/dib.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

namespace DxDraw {

using kestrel::Rect;

// One cell of a picture: its size, hot spot and source rectangle.
struct AnimCell {
    std::int16_t width = 0;
    std::int16_t height = 0;
    std::int16_t hotX = 0;
    std::int16_t hotY = 0;
    Rect source;
};

struct DxPoint {
    std::int16_t x = 0;
    std::int16_t y = 0;
};

class DxImage;
struct TextStyle; // dxdraw/text.h

// What GetDC hands out: the image text is drawn into (there is no GDI here).
struct DrawingContext {
    DxImage* image = nullptr;
};

class DxImage {
public:
    explicit DxImage(int bitDepth);
    virtual ~DxImage();
    DxImage(const DxImage&) = delete;
    DxImage& operator=(const DxImage&) = delete;

    // Makes a zero-filled image (a grey-ramp colour table for 1, 4 and 8 bits).
    virtual bool Create(std::int32_t width, std::int32_t height);
    // Recreates the image at the size of the bitmap and converts its pixels.
    // `info` holds the header and the colour table; the pixels are `bits`, or
    // follow the colour table in `info` when bits is not given. A bitmap
    // whose header promises more than the bytes hold is refused.
    virtual bool LoadDib(std::span<const std::uint8_t> info, std::optional<std::span<const std::uint8_t>> bits);
    // Reads a BMP or PNG file whole, from the archive (or the disk when archive is null).
    virtual bool LoadFile(kestrel::IArchive* archive, std::u16string_view name);
    virtual bool SaveBmp24(const std::filesystem::path& path);
    virtual bool SaveBmp32(const std::filesystem::path& path);
    // Counted: the first GetDC makes the context, the last ReleaseDC drops it.
    virtual DrawingContext* GetDC();
    virtual std::int32_t ReleaseDC();

    std::int32_t Width() const { return m_header.width; }
    std::int32_t Height() const { return m_header.height; } // as stored, signed
    std::int32_t AbsHeight() const { return m_header.height < 0 ? -m_header.height : m_header.height; }
    int BitDepth() const { return m_bitDepth; }
    bool HasPixels() const { return m_bits != nullptr; }
    // Signed byte step from row y to row y + 1.
    std::int32_t Pitch() const;
    std::uint32_t RowBytes() const { return m_rowBytes; }
    std::uint8_t* PixelAddress(std::int32_t x, std::int32_t y) const;
    std::uint8_t* Bits() const { return m_bits.get(); }
    const BitmapInfoHeader& Info() const { return m_header; }
    std::span<const std::uint8_t> ColourTable() const { return m_colourTable; }

protected:
    // Writes the BMP headers and every row through `convertRow` (memory row
    // in, `rowBytes` file bytes out).
    bool WriteBmp(const std::filesystem::path& path, std::uint16_t bitCount, std::uint32_t rowBytes,
        const std::function<void(const std::uint8_t* in, std::uint8_t* out)>& convertRow) const;

    struct AlignedFree {
        void operator()(std::uint8_t* p) const;
    };

    int m_bitDepth;
    BitmapInfoHeader m_header;
    std::vector<std::uint8_t> m_colourTable;
    std::unique_ptr<std::uint8_t[], AlignedFree> m_bits;
    std::uint32_t m_rowBytes = 0;
    std::unique_ptr<DrawingContext> m_dc;
    std::int32_t m_dcCount = 0;
};

class DxSurface : public DxImage {
public:
    explicit DxSurface(int bitDepth) : DxImage(bitDepth) {}

    bool Create(std::int32_t width, std::int32_t height) override;

    std::int32_t AddRef() { return ++m_refCount; }
    // Deletes the surface when the count reaches 0; a count already at 0 stays.
    // Virtual: a surface that is also a sprite leaves the screen as well.
    virtual std::int32_t Release();
    std::int32_t RefCount() const { return m_refCount; }

    // 0: this surface with one more reference; 1: a new opaque black surface
    // of the same size; 2: a new surface holding a copy of `rect` (whole
    // surface when null). Other kinds: null.
    virtual DxSurface* Clone(int kind, const Rect* rect);
    virtual bool BltCell(std::int32_t x, std::int32_t y, DxImage* source, const AnimCell& cell, const Rect* clip,
        const BlendParams* params) = 0;
    virtual bool Blt(std::int32_t x, std::int32_t y, DxImage* source, const Rect* sourceRect, const Rect* clip,
        const BlendParams* params) = 0;
    virtual bool DrawQuad(const DxPoint* destination, DxImage* source, const DxPoint* sourcePoints, const Rect* clip,
        const BlendParams* params) = 0;
    virtual bool DrawTriangle(const DxPoint* destination, DxImage* source, const DxPoint* sourcePoints,
        const Rect* clip, const BlendParams* params) = 0;
    virtual void StretchBlt(const Rect& /*destination*/, DxImage* /*source*/, const Rect& /*sourceRect*/) {}
    virtual void FillBox(std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height, std::uint32_t colour,
        std::uint8_t alpha) = 0;
    virtual void Fill(const Rect* rect, std::uint32_t colour, std::uint8_t alpha) = 0;
    virtual void SetAlpha(const Rect* rect, std::uint8_t alpha) = 0;
    // Text drawing lives with the font code; a plain surface draws nothing.
    virtual std::int32_t DrawChar(TextStyle& /*style*/, std::uint32_t /*code*/) { return 0; }

    // Null: the whole surface; otherwise (dirty | rect) & clip.
    void MarkDirty(const Rect* rect);

    const Rect& ClipRect() const { return m_clip; }
    void SetClipRect(const Rect& clip) { m_clip = clip; }
    const Rect& DirtyRect() const { return m_dirty; }
    void ClearDirty() { m_dirty = {}; }
    void SetOrigin(std::int32_t x, std::int32_t y) { m_originX = x, m_originY = y; }
    std::int32_t OriginX() const { return m_originX; }
    std::int32_t OriginY() const { return m_originY; }

protected:
    ~DxSurface() override = default; // destroyed only through Release

private:
    std::int32_t m_refCount = 1;
    Rect m_clip;
    Rect m_dirty;
    std::int32_t m_originX = 0;
    std::int32_t m_originY = 0;
};

// Not final: a sprite can be its own surface (DxSurfaceSprite32).
class DxSurface32 : public DxSurface {
public:
    DxSurface32() : DxSurface(32) {}

    bool BltCell(std::int32_t x, std::int32_t y, DxImage* source, const AnimCell& cell, const Rect* clip,
        const BlendParams* params) override;
    bool Blt(std::int32_t x, std::int32_t y, DxImage* source, const Rect* sourceRect, const Rect* clip,
        const BlendParams* params) override;
    bool DrawQuad(const DxPoint* destination, DxImage* source, const DxPoint* sourcePoints, const Rect* clip,
        const BlendParams* params) override;
    bool DrawTriangle(const DxPoint* destination, DxImage* source, const DxPoint* sourcePoints, const Rect* clip,
        const BlendParams* params) override;
    void StretchBlt(const Rect& destination, DxImage* source, const Rect& sourceRect) override;
    void FillBox(std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height, std::uint32_t colour,
        std::uint8_t alpha) override;
    void Fill(const Rect* rect, std::uint32_t colour, std::uint8_t alpha) override;
    void SetAlpha(const Rect* rect, std::uint8_t alpha) override;
    // One character of a text style (dxdraw/text.h): 1 when it was placed
    // (drawn, or a line feed), 0 when the callback skipped it or the style
    // has no font.
    std::int32_t DrawChar(TextStyle& style, std::uint32_t code) override;

protected:
    ~DxSurface32() override = default; // destroyed only through Release
};

// 32 gives a new DxSurface32 (one reference, no pixels until Create); 16 is
// reported as a programming error; any other depth gives null.
DxSurface* CreateSurface(int bitDepth);

// Holds one surface reference.
struct SurfaceRelease {
    void operator()(DxSurface* surface) const
    {
        if (surface)
            surface->Release();
    }
};
using SurfacePtr = std::unique_ptr<DxSurface, SurfaceRelease>;

// A minimal bitmap for dialog previews: header, zeroed colour table, pixels.
class DibSection {
public:
    bool Create(std::int32_t width, std::int32_t height, std::uint16_t bitDepth);
    const BitmapInfoHeader& Info() const { return m_header; }
    std::uint32_t RowBytes() const { return m_rowBytes; }
    std::uint32_t ImageBytes() const { return static_cast<std::uint32_t>(m_bits.size()); }
    std::uint8_t* Bits() { return m_bits.data(); }
    std::span<std::uint8_t> ColourTable() { return m_colours; }

private:
    BitmapInfoHeader m_header;
    std::uint32_t m_rowBytes = 0;
    std::vector<std::uint8_t> m_colours;
    std::vector<std::uint8_t> m_bits;
};

} // namespace DxDraw
