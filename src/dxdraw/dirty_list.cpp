#include "dxdraw/dirty_list.h"

#include <algorithm>

namespace DxDraw {

DirtyList::DirtyList(int capacity, DirtyListMode mode)
    : m_rects(static_cast<std::size_t>(std::max(capacity, 1))), m_mode(mode)
{
}

void DirtyList::Add(const Rect& rect)
{
    if (rect.Empty())
        return;
    // One rectangle grows to cover every addition; only the separate mode fills up.
    if (m_mode == DirtyListMode::Union) {
        if (m_count == 0) {
            m_rects[0] = rect;
            m_count = 1;
        } else {
            m_rects[0] = Unite(m_rects[0], rect);
        }
        return;
    }
    if (Full())
        return;
    for (int i = 0; i < m_count; ++i) {
        if (ContainsRect(m_rects[std::size_t(i)], rect))
            return;
    }
    for (int i = 0; i < m_count; ++i) {
        Rect& stored = m_rects[std::size_t(i)];
        if (ContainsRect(rect, stored))
            stored = {};
    }
    m_rects[std::size_t(m_count++)] = rect;
}

void DirtyList::SetMode(DirtyListMode mode)
{
    if (mode == m_mode)
        return;
    // What is pending stays pending, in the form of the new mode.
    Rect pending;
    for (int i = 0; i < m_count; ++i)
        pending = Unite(pending, m_rects[std::size_t(i)]);
    m_mode = mode;
    m_count = 0;
    Add(pending);
}

bool ContainsRect(const Rect& outer, const Rect& inner)
{
    return !outer.Empty() && outer.left <= inner.left && outer.top <= inner.top && inner.right <= outer.right &&
        inner.bottom <= outer.bottom;
}

Rect Intersect(const Rect& a, const Rect& b)
{
    const Rect r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
        std::min(a.bottom, b.bottom)};
    return r.Empty() ? Rect{} : r;
}

Rect Unite(const Rect& a, const Rect& b)
{
    if (a.Empty())
        return b;
    if (b.Empty())
        return a;
    return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
        std::max(a.bottom, b.bottom)};
}

} // namespace DxDraw
