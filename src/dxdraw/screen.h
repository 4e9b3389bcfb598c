// The screen: the group at the top of the drawable tree, with the 32-bit back
// buffer into which every frame is composed in software.
//
// Drawing the screen renders only the rectangles that changed: each one is
// cleared to transparent black in the back buffer, the subtree is drawn
// clipped to it, and that rectangle alone is presented to the window. A frame
// in which nothing changed presents nothing. A skip counter lets the frame
// step render only one frame in (reload + 1).
#pragma once

#include "dxdraw/dirty_list.h"
#include "dxdraw/sprite.h"
#include "dxdraw/surface.h"
#include "platform/platform.h"

#include <cstdint>

namespace DxDraw {

inline constexpr int kScreenDirtyCapacity = 500;

// Whether a render redraws the changed rectangles or everything.
enum class RedrawPolicy { DirtyRectangles, Everything };

class DxScreenSurface : public DxDrawGroup {
public:
    DxScreenSurface();

    // Slot 10: makes the back buffer (32 bits, width x height) and keeps its
    // drawing context; the first render then redraws the whole screen.
    virtual bool CreateBackBuffer(std::int32_t width, std::int32_t height) = 0;
    // Slot 11: an independent copy of the whole back buffer.
    virtual SurfacePtr Capture() = 0;

    // Render when the counter is 0; after each Draw the counter counts down,
    // and from 0 it is reloaded.
    void SetSkip(std::int32_t counter, std::int32_t reload);
    std::int32_t SkipCounter() const { return m_skipCounter; }
    std::int32_t SkipReload() const { return m_skipReload; }

    // The dirty list keeps one union rectangle unless told otherwise.
    void SetDirtyMode(DirtyListMode mode) { m_dirty.SetMode(mode); }
    const DirtyList& Dirty() const { return m_dirty; }
    void SetRedrawPolicy(RedrawPolicy policy) { m_policy = policy; }
    RedrawPolicy Policy() const { return m_policy; }

    DxSurface* BackBuffer() const { return m_backBuffer.get(); }
    Rect ScreenRect() const { return {0, 0, Width(), Height()}; }

protected:
    DirtyList m_dirty{kScreenDirtyCapacity, DirtyListMode::Union};
    RedrawPolicy m_policy = RedrawPolicy::DirtyRectangles;
    std::int32_t m_skipReload = 0;
    std::int32_t m_skipCounter = 0;
    SurfacePtr m_backBuffer;
};

class DxScreenSurface32 final : public DxScreenSurface {
public:
    // Frames are presented to `display`, which must outlive the screen.
    explicit DxScreenSurface32(kestrel::platform::Display& display);
    ~DxScreenSurface32() override;

    bool CreateBackBuffer(std::int32_t width, std::int32_t height) override;
    SurfacePtr Capture() override;

    // Once per frame: renders and presents when the skip counter is 0, then
    // commits the frame and empties the dirty list; then counts the skip
    // counter down, or reloads it from 0.
    void Draw(DrawContext* context) override;
    // DX_INVALIDATE adds its rectangle to the dirty list; DX_PAINTNOW adds
    // its rectangle and renders (and presents, unless b says
    // PresentMode::None) at once.
    int Handle(std::uint32_t type, MsgParam a, MsgParam b) override;

    // Collects the dirty rectangles and redraws each into the back buffer,
    // presenting it when asked. Neither commits nor empties the list.
    void Render(const DrawContext& context, PresentMode present);

    // The back buffer as the display sees it.
    kestrel::platform::FrameView Frame() const;

private:
    kestrel::platform::Display& m_display;
};

} // namespace DxDraw
