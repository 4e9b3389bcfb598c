// The rectangles of the screen that must be redrawn this frame.
#pragma once

#include "core/rect.h"

#include <cstdint>
#include <span>
#include <vector>

namespace DxDraw {

using kestrel::Rect;

enum class DirtyListMode : int {
    Union = 0,    // one rectangle: the union of everything added
    Separate = 1, // separate rectangles, none inside another
};

// A fixed-capacity list; its storage is made once, so adding never
// allocates. Empty rectangles add nothing.
class DirtyList {
public:
    explicit DirtyList(int capacity, DirtyListMode mode = DirtyListMode::Union);

    // A full list ignores the rectangle. Union mode unites it with the single
    // entry. Separate mode skips it when a stored rectangle contains it,
    // otherwise empties every stored rectangle it contains and appends it
    // (emptied entries keep their places until the next Reset).
    void Add(const Rect& rect);
    // Empties the list; the mode stays.
    void Reset() { m_count = 0; }
    // Empties the list and changes its mode.
    void SetMode(DirtyListMode mode);

    DirtyListMode Mode() const { return m_mode; }
    int Count() const { return m_count; }
    int Capacity() const { return static_cast<int>(m_rects.size()); }
    bool Full() const { return m_count >= Capacity(); }
    const Rect& operator[](int index) const { return m_rects[static_cast<std::size_t>(index)]; }
    std::span<const Rect> Rects() const { return {m_rects.data(), static_cast<std::size_t>(m_count)}; }

private:
    std::vector<Rect> m_rects;
    int m_count = 0;
    DirtyListMode m_mode;
};

// True when `outer` covers all of `inner` (a non-empty rectangle).
bool ContainsRect(const Rect& outer, const Rect& inner);
// The common part of two rectangles (empty when they do not meet).
Rect Intersect(const Rect& a, const Rect& b);
// The smallest rectangle covering both; an empty one adds nothing.
Rect Unite(const Rect& a, const Rect& b);

} // namespace DxDraw
