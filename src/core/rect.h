// Integer rectangles with exclusive right and bottom edges.
#pragma once

#include <cstdint>
#include <span>

namespace kestrel {

struct Rect {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;

    std::int32_t Width() const { return right - left; }
    std::int32_t Height() const { return bottom - top; }
    bool Empty() const { return right <= left || bottom <= top; }
    bool Contains(std::int32_t x, std::int32_t y) const { return left <= x && x <= right - 1 && top <= y && y <= bottom - 1; }
    friend bool operator==(const Rect&, const Rect&) = default;
};

// Index of the first rectangle that contains (x, y), or -1.
int HitTestRects(std::span<const Rect> rects, std::int32_t x, std::int32_t y);

// Moves the rectangle so that its top-left corner is (x, y), keeping its size.
void MoveRect(Rect& rect, std::int32_t x, std::int32_t y);

} // namespace kestrel
