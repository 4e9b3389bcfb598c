#include "dxdraw/view.h"

#include <cmath>

namespace DxDraw {

using kestrel::Matrix4;
using kestrel::Point16;
using kestrel::PointF;

// --- ssView -----------------------------------------------------------------

ssView::~ssView()
{
    if (m_parent)
        m_parent->RemoveChild(this);
}

void ssView::Detach()
{
    Handle(SS_DETACHING, 0, 0);
    Hide();
    Unlink();
    m_parent = nullptr;
    m_next = nullptr;
}

void ssView::Delete()
{
    Detach();
    delete this;
}

void ssView::ParentGone()
{
    delete this;
}

int ssView::Handle(std::uint32_t type, MsgParam a, MsgParam /*b*/)
{
    if (type == SS_COUNT && a)
        ++*ParamAs<int>(a);
    return 1;
}

MsgParam ssView::Broadcast(BroadcastMode mode, std::uint32_t type, MsgParam a, MsgParam b)
{
    switch (mode) {
    case kBroadcastUp:
        Handle(type, a, b);
        return m_parent ? m_parent->Broadcast(kBroadcastUp, type, a, b) : 1;
    case kBroadcastSearch:
        if (type == DV_HITTEST) {
            // The hit test searches the subtree itself, topmost first; the
            // answer is the node it reports.
            ssView* found = nullptr;
            ssView** out = b ? ParamAs<ssView*>(b) : &found;
            *out = nullptr;
            return Handle(type, a, ToParam(out)) ? ToParam(*out) : 0;
        }
        return Handle(type, a, b) == 0 ? ToParam(this) : 0;
    case kBroadcastSelf:
    case kBroadcastFocus:
    case kBroadcastSubtree:
    default:
        return Handle(type, a, b);
    }
}

void ssView::Tick() {}

void ssView::Draw(DrawContext* /*context*/) {}

void ssView::SetFlags(std::uint16_t mask, FlagChange change)
{
    if (change == FlagChange::Set)
        m_flags = static_cast<std::uint16_t>(m_flags | mask);
    else
        m_flags = static_cast<std::uint16_t>(m_flags & ~mask);
}

void ssView::Show()
{
    if (!IsVisible())
        SetFlags(kViewVisible, FlagChange::Set);
}

void ssView::Hide()
{
    if (IsVisible())
        SetFlags(kViewVisible, FlagChange::Clear);
}

void ssView::Unlink()
{
    if (m_parent)
        m_parent->RemoveChild(this);
}

// --- ssGroup ----------------------------------------------------------------

ssGroup::~ssGroup()
{
    // Walks over this group's children in progress (a child's callback
    // deleting the group) stop instead of touching it again.
    for (ChildWalk* walk = m_walks; walk; walk = walk->outer)
        walk->groupGone = true;
    while (ssView* child = FirstChild()) {
        RemoveChild(child);
        child->ParentGone();
    }
}

void ssGroup::Detach()
{
    ForEachChild([](ssView* child) { child->Hide(); });
    while (ssView* child = FirstChild())
        child->Delete();
    m_focused = nullptr;
    ssView::Detach();
}

int ssGroup::Handle(std::uint32_t type, MsgParam a, MsgParam b)
{
    if (type == SS_COUNT) {
        ssView::Handle(type, a, b);
        ForEachChild([&](ssView* child) { child->Handle(type, a, b); });
        return 1;
    }
    return ssView::Handle(type, a, b);
}

MsgParam ssGroup::Broadcast(BroadcastMode mode, std::uint32_t type, MsgParam a, MsgParam b)
{
    switch (mode) {
    case kBroadcastFocus: {
        const MsgParam result = Handle(type, a, b);
        return m_focused ? m_focused->Broadcast(kBroadcastFocus, type, a, b) : result;
    }
    case kBroadcastSubtree: {
        const MsgParam result = Handle(type, a, b);
        ForEachChild([&](ssView* child) { child->Broadcast(kBroadcastSubtree, type, a, b); });
        return result;
    }
    case kBroadcastSearch: {
        if (type == DV_HITTEST)
            return ssView::Broadcast(mode, type, a, b);
        if (Handle(type, a, b) == 0)
            return ToParam(static_cast<ssView*>(this));
        MsgParam found = 0;
        ForEachChild([&](ssView* child) {
            found = child->Broadcast(kBroadcastSearch, type, a, b);
            return found == 0; // go on until a node answers
        });
        return found;
    }
    case kBroadcastSelf:
    case kBroadcastUp:
    default:
        return ssView::Broadcast(mode, type, a, b);
    }
}

void ssGroup::Tick()
{
    ForEachChild([](ssView* child) { child->Tick(); });
}

void ssGroup::Draw(DrawContext* context)
{
    if (!IsVisible())
        return;
    ForEachChild([&](ssView* child) { child->Draw(context); });
}

void ssGroup::AddChild(ssView* view)
{
    // A group cannot hold itself or one of its ancestors: the tree would loop.
    for (const ssGroup* group = this; group; group = group->Parent()) {
        if (static_cast<const ssView*>(group) == view)
            return;
    }
    if (!view)
        return;
    if (view->m_parent)
        view->m_parent->RemoveChild(view);
    view->m_parent = this;
    if (m_last) {
        view->m_next = m_last->m_next;
        m_last->m_next = view;
    } else {
        view->m_next = view;
    }
    m_last = view;
    view->Handle(SS_ATTACHED, 0, 0);
}

void ssGroup::RemoveChild(ssView* view)
{
    if (!view || view->m_parent != this || !m_last)
        return;
    // Walks that were to visit this child next visit the one after it.
    for (ChildWalk* walk = m_walks; walk; walk = walk->outer) {
        if (walk->next == view)
            walk->next = NextChild(view);
    }
    ssView* const next = view->m_next;
    if (m_focused == view)
        SetFocus(next == view ? nullptr : next);
    if (next == view) {
        m_last = nullptr;
    } else {
        ssView* previous = view;
        while (previous->m_next != view)
            previous = previous->m_next;
        previous->m_next = next;
        if (m_last == view)
            m_last = previous;
    }
    view->m_parent = nullptr;
    view->m_next = nullptr;
}

void ssGroup::SetFocus(ssView* view)
{
    if (view && view->m_parent != this)
        return;
    if (m_focused == view)
        return;
    if (m_focused)
        m_focused->SetFlags(kViewFocused, FlagChange::Clear);
    m_focused = view;
    if (view)
        view->SetFlags(kViewFocused, FlagChange::Set);
}

ssView* ssGroup::PreviousChild(const ssView* child) const
{
    if (!child || child == FirstChild())
        return nullptr;
    ssView* previous = FirstChild();
    while (previous && previous->m_next != child)
        previous = NextChild(previous);
    return previous;
}

int ssGroup::ChildCount() const
{
    int count = 0;
    for (ssView* child = FirstChild(); child; child = NextChild(child))
        ++count;
    return count;
}

// --- DrawView ---------------------------------------------------------------

Matrix4& CurrentMatrix()
{
    static Matrix4 matrix = Matrix4::Identity();
    return matrix;
}

namespace {

// Only the low 16 bits of an angle count.
std::uint16_t Angle(std::int32_t angle)
{
    return static_cast<std::uint16_t>(angle);
}

// The inverse of the x/y part of a world matrix, as a matrix; false when the
// transform squashes the plane to a line.
bool InvertPlane(const Matrix4& m, Matrix4& inverse)
{
    const float det = m.m[0][0] * m.m[1][1] - m.m[1][0] * m.m[0][1];
    if (det == 0.0f || !std::isfinite(det))
        return false;
    inverse = Matrix4::Identity();
    inverse.m[0][0] = m.m[1][1] / det;
    inverse.m[0][1] = -m.m[0][1] / det;
    inverse.m[1][0] = -m.m[1][0] / det;
    inverse.m[1][1] = m.m[0][0] / det;
    inverse.m[3][0] = -(m.m[3][0] * inverse.m[0][0] + m.m[3][1] * inverse.m[1][0]);
    inverse.m[3][1] = -(m.m[3][0] * inverse.m[0][1] + m.m[3][1] * inverse.m[1][1]);
    return true;
}

void TransformPoints(const Matrix4& m, Point16* points, int count)
{
    for (int i = 0; i < count; ++i)
        points[i] = kestrel::MatrixTransformPoint(m, PointF{float(points[i].x), float(points[i].y), 0.0f});
}

void TransformRect(const Matrix4& m, Rect& rect)
{
    Point16 corners[2] = {{std::int16_t(rect.left), std::int16_t(rect.top)},
        {std::int16_t(rect.right), std::int16_t(rect.bottom)}};
    TransformPoints(m, corners, 2);
    rect = {corners[0].x, corners[0].y, corners[1].x, corners[1].y};
}

} // namespace

DrawView::DrawView(std::uint32_t kind) : m_kind(kind), m_matrix(&CurrentMatrix()) {}

int DrawView::Handle(std::uint32_t type, MsgParam a, MsgParam b)
{
    switch (type) {
    case DV_TICK:
        if (m_callback)
            m_callback(this);
        return 1;
    case DV_COMPOSE: {
        if (Parent())
            Parent()->Handle(DV_COMPOSE, a, b);
        if (a)
            ApplyTransform(*ParamAs<Matrix4>(a));
        if (b)
            Accumulate(*ParamAs<TransformParams>(b));
        return 1;
    }
    case DV_HITTEST:
        return 0;
    default:
        return ssView::Handle(type, a, b);
    }
}

void DrawView::Tick()
{
    Handle(DV_TICK, 0, 0);
}

void DrawView::SetPosition(const Point& point)
{
    m_position[0] = static_cast<float>(point.x);
    m_position[1] = static_cast<float>(point.y);
}

void DrawView::SetPosition(std::int32_t x, std::int32_t y)
{
    m_position[0] = static_cast<float>(x);
    m_position[1] = static_cast<float>(y);
}

void DrawView::SetPosition(float x, float y)
{
    m_position[0] = x;
    m_position[1] = y;
}

void DrawView::GetBounds(Rect& rect)
{
    const Point16 p = TransformedPosition();
    rect = {p.x, p.y, p.x, p.y};
}

void DrawView::LocalToWorld(Point16* points, int count)
{
    Matrix4 world;
    WorldTransform(world);
    TransformPoints(world, points, count);
}

void DrawView::LocalToWorld(Rect& rect)
{
    Matrix4 world;
    WorldTransform(world);
    TransformRect(world, rect);
}

void DrawView::WorldToLocal(Point16* points, int count)
{
    Matrix4 world, inverse;
    WorldTransform(world);
    if (InvertPlane(world, inverse))
        TransformPoints(inverse, points, count);
}

void DrawView::WorldToLocal(Rect& rect)
{
    Matrix4 world, inverse;
    WorldTransform(world);
    if (InvertPlane(world, inverse))
        TransformRect(inverse, rect);
}

void DrawView::ApplyTransform(Matrix4& matrix)
{
    if (m_transformFlags & kTransformRotationA)
        kestrel::MatrixRotate(matrix, Angle(m_rotationA[0]), Angle(m_rotationA[1]), Angle(m_rotationA[2]));
    kestrel::MatrixTranslate(matrix, m_position[0], m_position[1], m_position[2]);
    if (m_transformFlags & kTransformRotationB)
        kestrel::MatrixRotate(matrix, Angle(m_rotationB[0]), Angle(m_rotationB[1]), Angle(m_rotationB[2]));
    if (m_transformFlags & kTransformScale)
        kestrel::MatrixScale(matrix, m_scale[0], m_scale[1], m_scale[2]);
    if (m_transformFlags & kTransformPivot)
        kestrel::MatrixTranslate(matrix, -m_pivot[0], -m_pivot[1], -m_pivot[2]);
}

void DrawView::Accumulate(TransformParams& params)
{
    for (int i = 0; i < 3; ++i) {
        params.position[i] += m_position[i];
        params.pivot[i] += m_pivot[i];
        params.scale[i] *= m_scale[i];
        params.rotationB[i] += static_cast<float>(m_rotationB[i]);
        params.rotationA[i] += static_cast<float>(m_rotationA[i]);
    }
}

void DrawView::WorldTransform(Matrix4& matrix, TransformParams* params)
{
    matrix = Matrix4::Identity();
    TransformParams accumulated;
    if (Parent())
        Parent()->Handle(DV_GETTRANSFORM, ToParam(&matrix), ToParam(&accumulated));
    ApplyTransform(matrix);
    Accumulate(accumulated);
    m_accumulated = accumulated;
    if (params)
        *params = accumulated;
}

Point16 DrawView::TransformedPosition()
{
    Matrix4 world;
    WorldTransform(world);
    return kestrel::MatrixTransformPoint(world, PointF{});
}

void DrawView::SetPivot(float x, float y, float z)
{
    m_pivot[0] = x, m_pivot[1] = y, m_pivot[2] = z;
    TransformChanged();
}

void DrawView::SetScale(float x, float y, float z)
{
    m_scale[0] = x, m_scale[1] = y, m_scale[2] = z;
    TransformChanged();
}

void DrawView::SetRotationA(std::int32_t x, std::int32_t y, std::int32_t z)
{
    m_rotationA[0] = x, m_rotationA[1] = y, m_rotationA[2] = z;
    TransformChanged();
}

void DrawView::SetRotationB(std::int32_t x, std::int32_t y, std::int32_t z)
{
    m_rotationB[0] = x, m_rotationB[1] = y, m_rotationB[2] = z;
    TransformChanged();
}

void DrawView::SetZ(float z)
{
    m_position[2] = z;
    TransformChanged();
}

void DrawView::SetTransformFlags(std::uint32_t flags)
{
    m_transformFlags = flags;
    TransformChanged();
}

// --- DrawGroup --------------------------------------------------------------

DrawGroup::DrawGroup(std::uint32_t kind) : DrawView(kind) {}

DrawGroup::TransformScope::TransformScope(DrawGroup& group) : m_group(group), m_entered(kestrel::MatrixPush(group.Matrix()))
{
    if (!m_entered)
        return;
    TransformParams accumulated;
    if (group.Parent())
        group.Parent()->Handle(DV_GETTRANSFORM, 0, ToParam(&accumulated));
    group.Accumulate(accumulated);
    group.m_accumulated = accumulated;
    group.ApplyTransform(group.Matrix());
    ++group.m_walking;
}

DrawGroup::TransformScope::~TransformScope()
{
    if (!m_entered)
        return;
    --m_group.m_walking;
    kestrel::MatrixPop(m_group.Matrix());
}

int DrawGroup::Handle(std::uint32_t type, MsgParam a, MsgParam b)
{
    switch (type) {
    case DV_GETTRANSFORM: {
        if (m_walking > 0) {
            if (a)
                *ParamAs<Matrix4>(a) = Matrix();
            if (b)
                *ParamAs<TransformParams>(b) = m_accumulated;
            return 1;
        }
        Matrix4 matrix;
        TransformParams accumulated;
        WorldTransform(matrix, &accumulated);
        if (a)
            *ParamAs<Matrix4>(a) = matrix;
        if (b)
            *ParamAs<TransformParams>(b) = accumulated;
        return 1;
    }
    case DV_HITTEST: {
        if (!IsVisible() || !a)
            return 0;
        Point& point = *ParamAs<Point>(a);
        const Point saved = point;
        point.x -= static_cast<std::int32_t>(X());
        point.y -= static_cast<std::int32_t>(Y());
        for (ssView* child = LastChild(); child; child = PreviousChild(child)) {
            if (child->Handle(DV_HITTEST, a, b))
                return 1; // the point stays in the hit node's coordinates
        }
        point = saved;
        return 0;
    }
    case SS_COUNT:
        return ssGroup::Handle(type, a, b);
    default:
        return DrawView::Handle(type, a, b);
    }
}

void DrawGroup::Tick()
{
    DrawView::Tick();
    ssGroup::Tick();
}

void DrawGroup::Draw(DrawContext* context)
{
    if (!IsVisible())
        return;
    TransformScope scope(*this);
    if (scope.Entered())
        ssGroup::Draw(context);
}

void DrawGroup::GetBounds(Rect& rect)
{
    Matrix4 world;
    TransformParams accumulated;
    WorldTransform(world, &accumulated);
    const Point16 p = kestrel::MatrixTransformPoint(world, PointF{});
    rect = {p.x, p.y, p.x + static_cast<std::int32_t>(m_width * accumulated.scale[0]),
        p.y + static_cast<std::int32_t>(m_height * accumulated.scale[1])};
}

void DrawGroup::SetSize(std::int16_t width, std::int16_t height)
{
    m_width = width;
    m_height = height;
}

// --- hit test ---------------------------------------------------------------

ssView* HitTest(ssView& root, std::int32_t x, std::int32_t y, Point* local)
{
    Point point{x, y};
    ssView* hit = nullptr;
    if (!root.Handle(DV_HITTEST, ToParam(&point), ToParam(&hit)))
        return nullptr;
    if (local)
        *local = point;
    return hit;
}

} // namespace DxDraw
