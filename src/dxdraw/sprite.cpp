#include "dxdraw/sprite.h"

namespace DxDraw {

namespace {

Rect Offset(const Rect& rect, std::int32_t dx, std::int32_t dy)
{
    return {rect.left + dx, rect.top + dy, rect.right + dx, rect.bottom + dy};
}

} // namespace

// --- DxDrawView -------------------------------------------------------------

DxDrawView::DxDrawView(std::uint32_t kind) : DrawView(kind) {}

int DxDrawView::Handle(std::uint32_t type, MsgParam a, MsgParam b)
{
    switch (type) {
    case SS_ATTACHED:
        MarkChanged(kChangedVisibility);
        return 1;
    case SS_DETACHING:
        if (!m_drawn.Empty() && Parent())
            Parent()->Handle(DX_INVALIDATE, ToParam(&m_drawn), 0);
        return 1;
    case DX_COLLECTDIRTY:
        if (a)
            CollectWholeRects(*ParamAs<DirtyList>(a));
        return 1;
    case DX_COMMIT:
        Commit();
        return 1;
    case DX_CHANGED:
        MarkChanged(static_cast<std::uint32_t>(a));
        return 1;
    default:
        return DrawView::Handle(type, a, b);
    }
}

void DxDrawView::SetFlags(std::uint16_t mask, FlagChange change)
{
    DrawView::SetFlags(mask, change);
    if (mask & kViewVisible)
        MarkChanged(kChangedVisibility);
}

void DxDrawView::SetPosition(const Point& point)
{
    DrawView::SetPosition(point);
    MarkChanged(kChangedMoved);
}

void DxDrawView::SetPosition(std::int32_t x, std::int32_t y)
{
    DrawView::SetPosition(x, y);
    MarkChanged(kChangedMoved);
}

void DxDrawView::SetPosition(float x, float y)
{
    DrawView::SetPosition(x, y);
    MarkChanged(kChangedMoved);
}

void DxDrawView::GetAnchorRect(Rect& rect)
{
    const kestrel::Point16 p = TransformedPosition();
    rect = {p.x, p.y, p.x, p.y};
}

void DxDrawView::GetScreenRect(Rect& rect)
{
    rect = {};
}

void DxDrawView::MarkChanged(std::uint32_t flags)
{
    m_changed |= flags;
}

void DxDrawView::CollectWholeRects(DirtyList& list)
{
    if (m_changed == 0)
        return;
    if (!m_drawn.Empty())
        list.Add(m_drawn);
    GetScreenRect(m_current);
    if (!m_current.Empty())
        list.Add(m_current);
}

void DxDrawView::Commit()
{
    m_drawn = m_current;
    m_changed = 0;
}

// --- DxDrawGroup ------------------------------------------------------------

DxDrawGroup::DxDrawGroup(std::uint32_t kind) : DrawGroup(kind) {}

int DxDrawGroup::Handle(std::uint32_t type, MsgParam a, MsgParam b)
{
    switch (type) {
    case DX_COLLECTDIRTY: {
        TransformScope scope(*this);
        if (scope.Entered())
            ForEachChild([&](ssView* child) { child->Handle(type, a, b); });
        return 1;
    }
    case DX_COMMIT:
    case DX_CHANGED:
        ForEachChild([&](ssView* child) { child->Handle(type, a, b); });
        return 1;
    case DX_INVALIDATE:
        return Parent() ? Parent()->Handle(type, a, b) : 1;
    case SS_ATTACHED:
        Handle(DX_CHANGED, kChangedVisibility, 0);
        return 1;
    default:
        return DrawGroup::Handle(type, a, b);
    }
}

void DxDrawGroup::SetFlags(std::uint16_t mask, FlagChange change)
{
    DrawGroup::SetFlags(mask, change);
    if (mask & kViewVisible)
        Handle(DX_CHANGED, kChangedVisibility, 0);
}

void DxDrawGroup::SetPosition(const Point& point)
{
    DrawGroup::SetPosition(point);
    Handle(DX_CHANGED, kChangedMoved, 0);
}

void DxDrawGroup::SetPosition(std::int32_t x, std::int32_t y)
{
    DrawGroup::SetPosition(x, y);
    Handle(DX_CHANGED, kChangedMoved, 0);
}

void DxDrawGroup::SetPosition(float x, float y)
{
    DrawGroup::SetPosition(x, y);
    Handle(DX_CHANGED, kChangedMoved, 0);
}

// --- DxSprite ---------------------------------------------------------------

DxSprite::DxSprite(std::uint32_t blendFlags)
{
    m_blend.flags = blendFlags;
    m_blend.level = 32;
    m_blend.mask = nullptr;
}

DxSprite::~DxSprite()
{
    if (m_ownsSurface && m_surface)
        m_surface->Release();
}

int DxSprite::Handle(std::uint32_t type, MsgParam a, MsgParam b)
{
    switch (type) {
    case DV_HITTEST: {
        if (!IsVisible() || !m_surface || !a)
            return 0;
        Point& point = *ParamAs<Point>(a);
        const Point local{point.x - static_cast<std::int32_t>(X()) + m_cell.hotX,
            point.y - static_cast<std::int32_t>(Y()) + m_cell.hotY};
        if (local.x < 0 || local.x >= m_cell.width || local.y < 0 || local.y >= m_cell.height)
            return 0;
        point = local;
        if (b)
            *ParamAs<ssView*>(b) = this;
        return 1;
    }
    case DX_COLLECTDIRTY:
        if (a)
            CollectDirty(*ParamAs<DirtyList>(a));
        return 1;
    case DX_COMMIT:
        Commit();
        if (m_surface)
            m_surface->ClearDirty();
        return 1;
    default:
        return DxDrawView::Handle(type, a, b);
    }
}

void DxSprite::CollectDirty(DirtyList& list)
{
    if (m_surface && !m_surface->DirtyRect().Empty())
        m_changed |= kChangedContent;
    if (!m_surface || m_changed != kChangedContent) {
        CollectWholeRects(list);
        return;
    }
    // Only the pixels changed: redraw the changed part of the cell where the
    // sprite was and where it is (the same place unless an ancestor moved
    // without telling).
    GetScreenRect(m_current);
    const Rect part = Intersect(m_surface->DirtyRect(), m_cell.source);
    if (part.Empty())
        return;
    for (const Rect* at : {&m_drawn, &m_current}) {
        if (at->Empty())
            continue;
        list.Add(Intersect(Offset(part, at->left - m_cell.source.left, at->top - m_cell.source.top), *at));
    }
}

void DxSprite::Draw(DrawContext* context)
{
    if (!IsVisible() || !m_surface || !context || !context->target)
        return;
    const Rect clip = Intersect(m_current, context->clip);
    if (clip.Empty())
        return;
    context->target->Blt(m_current.left, m_current.top, m_surface, &m_cell.source, &clip, &m_blend);
}

void DxSprite::GetBounds(Rect& rect)
{
    const kestrel::Point16 p = TransformedPosition();
    const std::int16_t left = static_cast<std::int16_t>(p.x - m_cell.hotX);
    const std::int16_t top = static_cast<std::int16_t>(p.y - m_cell.hotY);
    rect = {left, top, static_cast<std::int16_t>(left + m_cell.width), static_cast<std::int16_t>(top + m_cell.height)};
}

void DxSprite::GetScreenRect(Rect& rect)
{
    if (!IsVisible()) {
        rect = {};
        return;
    }
    GetBounds(rect);
}

void DxSprite::SetSurface(DxSurface* surface, SurfaceOwnership ownership)
{
    if (surface != m_surface && m_ownsSurface && m_surface)
        m_surface->Release();
    m_surface = surface;
    m_ownsSurface = surface && ownership == SurfaceOwnership::Owned;
    MarkChanged(kChangedVisibility);
}

void DxSprite::SetCell(const AnimCell* cell)
{
    if (cell) {
        m_cell = *cell;
    } else if (m_surface) {
        const std::int32_t width = m_surface->Width();
        const std::int32_t height = m_surface->AbsHeight();
        m_cell = {static_cast<std::int16_t>(width), static_cast<std::int16_t>(height), 0, 0, {0, 0, width, height}};
    } else {
        m_cell = {};
    }
    Handle(DX_CHANGED, kChangedVisibility, 0);
}

void DxSprite::SetBlend(const BlendParams& blend)
{
    m_blend = blend;
    MarkChanged(kChangedLook);
}

void DxSprite::SetBlendFlags(std::uint32_t flags)
{
    m_blend.flags = flags;
    MarkChanged(kChangedLook);
}

void DxSprite::SetBlendLevel(std::int16_t level)
{
    m_blend.level = level;
    MarkChanged(kChangedLook);
}

void DxSprite::SetBlendColour(std::uint32_t colour)
{
    m_blend.colour = colour;
    MarkChanged(kChangedLook);
}

void DxSprite::SetBlendMask(DxImage* mask)
{
    m_blend.mask = mask;
    MarkChanged(kChangedLook);
}

// --- DxSurfaceSprite32 ------------------------------------------------------

DxSurfaceSprite32::DxSurfaceSprite32(std::int32_t width, std::int32_t height, std::uint32_t blendFlags)
    : DxSprite(blendFlags)
{
    Create(width, height);
    Fill(nullptr, 0, 0);
    SetSurface(static_cast<DxSurface*>(this));
    SetCell(nullptr);
    MarkDirty(nullptr);
}

DxSurfaceSprite32::~DxSurfaceSprite32()
{
    // The surface is this object: the sprite part must not release it.
    m_ownsSurface = false;
}

void DxSurfaceSprite32::ParentGone()
{
    // Still shown elsewhere or held as a surface: only this reference goes.
    m_ownsSurface = false;
    if (RefCount() > 1) {
        Hide();
        DxSurface32::Release();
        return;
    }
    delete this;
}

std::int32_t DxSurfaceSprite32::Release()
{
    m_ownsSurface = false;
    if (RefCount() > 1) {
        Detach();
        return DxSurface32::Release();
    }
    Delete();
    return 0;
}

} // namespace DxDraw
