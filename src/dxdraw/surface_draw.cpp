#include "dxdraw/surface.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace DxDraw {

namespace {

Rect Intersect(const Rect& a, const Rect& b)
{
    Rect r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right), std::min(a.bottom, b.bottom)};
    return r.Empty() ? Rect{} : r;
}

Rect Bounds(const DxImage& image)
{
    return {0, 0, image.Width(), image.AbsHeight()};
}

// The clip rectangle of a surface, or the bounds of a plain image.
Rect SourceClip(const DxImage& image)
{
    if (const auto* surface = dynamic_cast<const DxSurface*>(&image))
        return surface->ClipRect();
    return Bounds(image);
}

bool Drawable32(const DxImage* image)
{
    return image && image->HasPixels() && image->BitDepth() == 32;
}

// The record as the kernels expect it: flag 0x20000 cleared, the colour's
// top byte set, and without the colour-mask flag a colour that passes all.
BlendParams PrepareParams(const BlendParams* params, bool replaceColour)
{
    BlendParams p = params ? *params : BlendParams{};
    p.flags &= ~kBlendReserved20000;
    p.colour |= 0xFF000000u;
    if (replaceColour && !(p.flags & kBlendColourMask))
        p.colour = 0xFFFFFFFFu;
    return p;
}

bool UsesMask(std::uint32_t mode)
{
    const std::uint32_t low = mode & 0x0F;
    return low == 5 || low == 6;
}

} // namespace

// --- transfers ----------------------------------------------------------------

bool DxSurface32::Blt(std::int32_t x, std::int32_t y, DxImage* source, const Rect* sourceRect, const Rect* clip,
    const BlendParams* params)
{
    if (!Drawable32(source) || !HasPixels())
        return false;
    Rect src = sourceRect ? *sourceRect : SourceClip(*source);
    if (Intersect(src, SourceClip(*source)).Empty())
        return false;
    // A source rectangle reaching past the picture is cut to it (the
    // destination moves with its edges), so no read leaves the picture.
    const Rect inside = Intersect(src, Bounds(*source));
    if (inside.Empty())
        return false;
    x += inside.left - src.left;
    y += inside.top - src.top;
    src = inside;

    Rect dst{x, y, x + src.Width(), y + src.Height()};
    dst = Intersect(dst, clip ? *clip : ClipRect());
    // Writes land at the clipped position plus the origin: keep them inside the surface.
    const Rect reachable{-OriginX(), -OriginY(), Width() - OriginX(), AbsHeight() - OriginY()};
    dst = Intersect(dst, reachable);
    if (dst.Empty())
        return true;
    const std::int32_t srcX = src.left + dst.left - x;
    const std::int32_t srcY = src.top + dst.top - y;

    BlendParams p = PrepareParams(params, true);
    std::uint32_t mode = p.flags & kBlendModeMask;
    if ((mode & kBlendOperationMask) == kOpOpacity && !(p.flags & kBlendNoShortcuts)) {
        if (p.level == 0)
            return true;
        if (p.level == 256) {
            mode &= ~kBlendOperationMask; // operation 0 with the same rule
            p.flags = (p.flags & ~kBlendModeMask) | mode;
        }
    }

    const std::uint8_t* mask = nullptr;
    std::int32_t maskPitch = 0;
    if (UsesMask(mode)) {
        const DxImage* maskImage = p.mask;
        const Rect needed{srcX, srcY, srcX + dst.Width(), srcY + dst.Height()};
        if (!Drawable32(maskImage) || Intersect(needed, Bounds(*maskImage)) != needed)
            return false; // no rule image under the whole source area
        mask = maskImage->PixelAddress(srcX, srcY);
        maskPitch = maskImage->Pitch();
    }

    const BlendKernel perPixel = PerPixelKernel(mode);
    if (!perPixel)
        return false;
    std::uint8_t* out = PixelAddress(dst.left + OriginX(), dst.top + OriginY());
    const std::uint8_t* in = source->PixelAddress(srcX, srcY);
    const std::int32_t width = dst.Width();
    const std::int32_t height = dst.Height();
    const BlendKernel paired = PairedKernel(mode);
    const std::int32_t even = paired ? width & ~1 : 0;
    if (even > 0)
        paired(out, in, mask, even, &p, Pitch(), source->Pitch(), maskPitch, height);
    if (even < width)
        perPixel(out + even * 4, in + even * 4, mask ? mask + even * 4 : nullptr, width - even, &p, Pitch(),
            source->Pitch(), maskPitch, height);

    const Rect changed{dst.left + OriginX(), dst.top + OriginY(), dst.right + OriginX(), dst.bottom + OriginY()};
    MarkDirty(&changed);
    return true;
}

bool DxSurface32::BltCell(std::int32_t x, std::int32_t y, DxImage* source, const AnimCell& cell, const Rect* clip,
    const BlendParams* params)
{
    return Blt(x - cell.hotX, y - cell.hotY, source, &cell.source, clip, params);
}

// --- fills --------------------------------------------------------------------

void DxSurface32::Fill(const Rect* rect, std::uint32_t colour, std::uint8_t alpha)
{
    if (!HasPixels())
        return;
    const Rect area = Intersect(rect ? *rect : Bounds(*this), Bounds(*this));
    if (area.Empty())
        return;
    const std::uint32_t value = (colour & 0xFFFFFFu) | (std::uint32_t(255 - alpha) << 24);
    FillPixels(PixelAddress(area.left, area.top), area.Width(), area.Height(), Pitch(), value);
    MarkDirty(rect ? &area : nullptr);
}

void DxSurface32::FillBox(std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height,
    std::uint32_t colour, std::uint8_t alpha)
{
    const Rect rect{x, y, x + width, y + height};
    Fill(&rect, colour, alpha);
}

void DxSurface32::SetAlpha(const Rect* rect, std::uint8_t alpha)
{
    if (!HasPixels())
        return;
    const Rect area = Intersect(rect ? *rect : Bounds(*this), Bounds(*this));
    if (area.Empty())
        return;
    SetTransparency(PixelAddress(area.left, area.top), area.Width(), area.Height(), Pitch(),
        static_cast<std::uint8_t>(255 - alpha));
    MarkDirty(rect ? &area : nullptr);
}

// --- copies and scaling -------------------------------------------------------

DxSurface* DxSurface::Clone(int kind, const Rect* rect)
{
    switch (kind) {
    case 0:
        AddRef();
        return this;
    case 1: {
        SurfacePtr copy(CreateSurface(BitDepth()));
        if (!copy || !copy->Create(Width(), Height()))
            return nullptr;
        return copy.release();
    }
    case 2: {
        const Rect area = Intersect(rect ? *rect : Bounds(*this), Bounds(*this));
        SurfacePtr copy(CreateSurface(BitDepth()));
        if (!copy || area.Empty() || !copy->Create(area.Width(), area.Height()))
            return nullptr;
        copy->Blt(0, 0, this, &area, nullptr, nullptr);
        copy->ClearDirty();
        return copy.release();
    }
    default:
        return nullptr;
    }
}

namespace {

// One pass of the two-pass scaling along one axis. `horizontal` scales
// columns, else rows; wider output repeats the nearest source line,
// narrower output averages each byte over the source lines it covers.
SurfacePtr ScalePass(DxImage& source, const Rect& area, std::int32_t outLength, bool horizontal)
{
    const std::int32_t inLength = horizontal ? area.Width() : area.Height();
    const std::int32_t outWidth = horizontal ? outLength : area.Width();
    const std::int32_t outHeight = horizontal ? area.Height() : outLength;
    SurfacePtr out(CreateSurface(32));
    if (!out || !out->Create(outWidth, outHeight))
        return nullptr;
    for (std::int32_t j = 0; j < outLength; ++j) {
        const std::int32_t first = std::int32_t(std::int64_t(j) * inLength / outLength);
        std::int32_t last = std::int32_t(std::int64_t(j + 1) * inLength / outLength);
        if (outLength > inLength || last <= first)
            last = first + 1; // wider: nearest line
        const std::int32_t across = horizontal ? area.Height() : area.Width();
        for (std::int32_t k = 0; k < across; ++k) {
            std::uint32_t sum[4] = {};
            for (std::int32_t i = first; i < last; ++i) {
                const std::uint8_t* p = horizontal ? source.PixelAddress(area.left + i, area.top + k)
                                                   : source.PixelAddress(area.left + k, area.top + i);
                for (int c = 0; c < 4; ++c)
                    sum[c] += p[c];
            }
            std::uint8_t* q = horizontal ? out->PixelAddress(j, k) : out->PixelAddress(k, j);
            for (int c = 0; c < 4; ++c)
                q[c] = static_cast<std::uint8_t>(sum[c] / std::uint32_t(last - first));
        }
    }
    return out;
}

} // namespace

void DxSurface32::StretchBlt(const Rect& destination, DxImage* source, const Rect& sourceRect)
{
    if (!Drawable32(source) || destination.Empty())
        return;
    const Rect area = Intersect(sourceRect, Bounds(*source));
    if (area.Empty())
        return;
    SurfacePtr wide = ScalePass(*source, area, destination.Width(), true);
    if (!wide)
        return;
    SurfacePtr tall = area.Height() == destination.Height()
        ? SurfacePtr(wide->Clone(0, nullptr))
        : ScalePass(*wide, Bounds(*wide), destination.Height(), false);
    if (tall)
        Blt(destination.left, destination.top, tall.get(), nullptr, nullptr, nullptr);
}

// --- mapped polygons ----------------------------------------------------------

namespace {

struct EdgeHit {
    double x;
    double u;
    double v;
};

// Every scanline of a convex polygon: the leftmost and rightmost edge
// crossings with the source coordinates interpolated along their edges.
template <class Visit>
void ScanPolygon(const DxPoint* dst, const DxPoint* src, int count, std::int32_t clipTop, std::int32_t clipBottom,
    Visit&& visit)
{
    std::int32_t top = dst[0].y, bottom = dst[0].y;
    for (int i = 1; i < count; ++i) {
        top = std::min<std::int32_t>(top, dst[i].y);
        bottom = std::max<std::int32_t>(bottom, dst[i].y);
    }
    top = std::max(top, clipTop);
    bottom = std::min(bottom, clipBottom - 1);
    for (std::int32_t y = top; y <= bottom; ++y) {
        bool any = false;
        EdgeHit left{}, right{};
        for (int i = 0; i < count; ++i) {
            const DxPoint& a = dst[i];
            const DxPoint& b = dst[(i + 1) % count];
            const DxPoint& sa = src[i];
            const DxPoint& sb = src[(i + 1) % count];
            if (y < std::min(a.y, b.y) || y > std::max(a.y, b.y))
                continue;
            EdgeHit hits[2];
            int hitCount = 0;
            if (a.y == b.y) {
                hits[hitCount++] = {double(a.x), double(sa.x), double(sa.y)};
                hits[hitCount++] = {double(b.x), double(sb.x), double(sb.y)};
            } else {
                const double t = double(y - a.y) / double(b.y - a.y);
                hits[hitCount++] = {a.x + t * (b.x - a.x), sa.x + t * (sb.x - sa.x), sa.y + t * (sb.y - sa.y)};
            }
            for (int h = 0; h < hitCount; ++h) {
                if (!any || hits[h].x < left.x)
                    left = hits[h];
                if (!any || hits[h].x > right.x)
                    right = hits[h];
                any = true;
            }
        }
        if (any)
            visit(y, left, right);
    }
}

} // namespace

namespace {

bool DrawPolygon(DxSurface32& surface, const DxPoint* dst, int count, DxImage* source, const DxPoint* src,
    const Rect* clip, const BlendParams* params)
{
    if (!dst || !src || !Drawable32(source) || !surface.HasPixels())
        return false;
    BlendParams p = PrepareParams(params, false);
    const std::uint32_t mode = p.flags & kBlendModeMask;
    const BlendKernel kernel = PerPixelKernel(mode);
    if (!kernel)
        return false;
    const DxImage* maskImage = UsesMask(mode) ? p.mask : nullptr;
    if (UsesMask(mode) && !Drawable32(maskImage))
        return false;

    const Rect reachable{-surface.OriginX(), -surface.OriginY(), surface.Width() - surface.OriginX(),
        surface.AbsHeight() - surface.OriginY()};
    const Rect area = Intersect(clip ? *clip : surface.ClipRect(), reachable);
    const Rect sourceBounds = Bounds(*source);
    ScanPolygon(dst, src, count, area.top, area.bottom, [&](std::int32_t y, const EdgeHit& left, const EdgeHit& right) {
        const auto x0 = static_cast<std::int32_t>(std::floor(left.x));
        const auto x1 = static_cast<std::int32_t>(std::floor(right.x));
        const std::int32_t span = std::max(x1 - x0, 1);
        // Source coordinates advance in 16.16 fixed point along the span.
        std::int64_t u = std::llround(left.u * 65536.0);
        std::int64_t v = std::llround(left.v * 65536.0);
        const std::int64_t du = std::llround((right.u - left.u) * 65536.0) / span;
        const std::int64_t dv = std::llround((right.v - left.v) * 65536.0) / span;
        for (std::int32_t x = x0; x <= x1; ++x, u += du, v += dv) {
            if (x < area.left || x >= area.right)
                continue;
            const auto sx = static_cast<std::int32_t>(u >> 16);
            const auto sy = static_cast<std::int32_t>(v >> 16);
            if (!sourceBounds.Contains(sx, sy))
                continue; // the mapping reaches past the picture: nothing to read there
            const std::uint8_t* mask = nullptr;
            if (maskImage) {
                if (!Bounds(*maskImage).Contains(sx, sy))
                    continue;
                mask = maskImage->PixelAddress(sx, sy);
            }
            kernel(surface.PixelAddress(x + surface.OriginX(), y + surface.OriginY()), source->PixelAddress(sx, sy),
                mask, 1, &p, surface.Pitch(), source->Pitch(), maskImage ? maskImage->Pitch() : 0, 1);
        }
    });

    Rect box{dst[0].x, dst[0].y, dst[0].x + 1, dst[0].y + 1};
    for (int i = 1; i < count; ++i) {
        box.left = std::min<std::int32_t>(box.left, dst[i].x);
        box.top = std::min<std::int32_t>(box.top, dst[i].y);
        box.right = std::max<std::int32_t>(box.right, dst[i].x + 1);
        box.bottom = std::max<std::int32_t>(box.bottom, dst[i].y + 1);
    }
    box = Intersect(box, area);
    const Rect changed{box.left + surface.OriginX(), box.top + surface.OriginY(), box.right + surface.OriginX(),
        box.bottom + surface.OriginY()};
    surface.MarkDirty(&changed);
    return true;
}

} // namespace

bool DxSurface32::DrawQuad(const DxPoint* destination, DxImage* source, const DxPoint* sourcePoints, const Rect* clip,
    const BlendParams* params)
{
    return DrawPolygon(*this, destination, 4, source, sourcePoints, clip, params);
}

bool DxSurface32::DrawTriangle(const DxPoint* destination, DxImage* source, const DxPoint* sourcePoints,
    const Rect* clip, const BlendParams* params)
{
    return DrawPolygon(*this, destination, 3, source, sourcePoints, clip, params);
}

} // namespace DxDraw
