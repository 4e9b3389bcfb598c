#include "core/rect.h"

namespace kestrel {

int HitTestRects(std::span<const Rect> rects, std::int32_t x, std::int32_t y)
{
    for (std::size_t i = 0; i < rects.size(); ++i) {
        if (rects[i].Contains(x, y))
            return static_cast<int>(i);
    }
    return -1;
}

void MoveRect(Rect& rect, std::int32_t x, std::int32_t y)
{
    const std::int32_t width = rect.Width();
    const std::int32_t height = rect.Height();
    rect = {x, y, x + width, y + height};
}

} // namespace kestrel
