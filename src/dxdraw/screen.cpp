#include "dxdraw/screen.h"

#include <limits>

namespace DxDraw {

DxScreenSurface::DxScreenSurface() = default;

void DxScreenSurface::SetSkip(std::int32_t counter, std::int32_t reload)
{
    m_skipCounter = counter;
    m_skipReload = reload;
}

DxScreenSurface32::DxScreenSurface32(kestrel::platform::Display& display) : m_display(display) {}

DxScreenSurface32::~DxScreenSurface32()
{
    if (m_backBuffer)
        m_backBuffer->ReleaseDC();
}

bool DxScreenSurface32::CreateBackBuffer(std::int32_t width, std::int32_t height)
{
    constexpr std::int32_t kLargest = std::numeric_limits<std::int16_t>::max();
    if (width <= 0 || height <= 0 || width > kLargest || height > kLargest)
        return false;
    SurfacePtr buffer(CreateSurface(32));
    // Top-down rows, so that a presented rectangle is plain rows of memory.
    if (!buffer || !buffer->Create(width, -height))
        return false;
    if (m_backBuffer)
        m_backBuffer->ReleaseDC();
    m_backBuffer = std::move(buffer);
    m_backBuffer->GetDC();
    SetSize(static_cast<std::int16_t>(width), static_cast<std::int16_t>(height));
    // What the window showed before is unknown: the first render paints it all.
    m_dirty.Reset();
    m_dirty.Add(ScreenRect());
    return true;
}

SurfacePtr DxScreenSurface32::Capture()
{
    return SurfacePtr(m_backBuffer ? m_backBuffer->Clone(2, nullptr) : nullptr);
}

void DxScreenSurface32::Draw(DrawContext* context)
{
    if (m_skipCounter == 0) {
        DrawContext frame = context ? *context : DrawContext{};
        frame.target = m_backBuffer.get();
        Render(frame, frame.present);
        Handle(DX_COMMIT, 0, 0);
        m_dirty.Reset();
    }
    if (m_skipCounter != 0)
        --m_skipCounter;
    else
        m_skipCounter = m_skipReload;
}

int DxScreenSurface32::Handle(std::uint32_t type, MsgParam a, MsgParam b)
{
    switch (type) {
    case DX_INVALIDATE:
        if (a)
            m_dirty.Add(*ParamAs<const Rect>(a));
        return 1;
    case DX_PAINTNOW: {
        if (a)
            m_dirty.Add(*ParamAs<const Rect>(a));
        DrawContext frame;
        frame.target = m_backBuffer.get();
        frame.present = b == static_cast<MsgParam>(PresentMode::None) ? PresentMode::None : PresentMode::Copy;
        Render(frame, frame.present);
        return 1;
    }
    default:
        return DxScreenSurface::Handle(type, a, b);
    }
}

void DxScreenSurface32::Render(const DrawContext& context, PresentMode present)
{
    if (!m_backBuffer)
        return;
    const Rect screen = ScreenRect();
    if (m_policy == RedrawPolicy::Everything) {
        m_dirty.Reset();
        m_dirty.Add(screen);
    }

    // The walk starts from the screen's ancestors' transform, whoever asked
    // for the render (the frame step or a paint request).
    kestrel::Matrix4& matrix = Matrix();
    if (!kestrel::MatrixPush(matrix))
        return;
    matrix = kestrel::Matrix4::Identity();
    if (Parent())
        Parent()->Handle(DV_COMPOSE, ToParam(&matrix), 0);

    Handle(DX_COLLECTDIRTY, ToParam(&m_dirty), 0);

    DrawContext rectangle = context;
    rectangle.target = m_backBuffer.get();
    const kestrel::platform::FrameView frame = Frame();
    for (const Rect& dirty : m_dirty.Rects()) {
        const Rect r = Intersect(dirty, screen);
        if (r.Empty())
            continue;
        m_backBuffer->Fill(&r, 0, 0);
        rectangle.clip = r;
        DxScreenSurface::Draw(&rectangle);
        if (present == PresentMode::Copy)
            m_display.Present(frame, r);
    }
    // Nothing shows the back buffer as a sprite; its own dirty rectangle
    // means nothing.
    m_backBuffer->ClearDirty();
    kestrel::MatrixPop(matrix);
}

kestrel::platform::FrameView DxScreenSurface32::Frame() const
{
    if (!m_backBuffer)
        return {};
    return {m_backBuffer->PixelAddress(0, 0), m_backBuffer->Pitch(), m_backBuffer->Width(),
        m_backBuffer->AbsHeight()};
}

} // namespace DxDraw
