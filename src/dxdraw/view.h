// The drawable tree: views and groups, their numbered messages and broadcasts,
// and the transforms of the views that have a position.
//
// Everything visible is a node of one retained tree. Siblings form a circular
// singly linked list whose tail the group keeps; the first child is drawn
// first (at the bottom) and the last child on top. Nodes talk to each other
// through Handle (one numbered message) and Broadcast (one message carried to
// the parent chain, the focus chain or a whole subtree).
//
// A node is created detached and visible, attached with AddChild and owned by
// its group from then on: detaching a group deletes its children, and
// deleting a group deletes its subtree. Nodes therefore live on the heap and
// end through Delete (ViewPtr does that for the roots a caller holds).
//
// The tree runs on the main thread only; handlers and broadcasts are
// synchronous.
#pragma once

#include "core/matrix.h"
#include "core/rect.h"

#include <cstdint>
#include <type_traits>
#include <memory>
#include <utility>

namespace DxDraw {

using kestrel::Rect;

class DxSurface;
class ssGroup;

// A message parameter: an integer or a pointer, as the message says.
using MsgParam = std::intptr_t;

template <class T>
MsgParam ToParam(T* pointer)
{
    return reinterpret_cast<MsgParam>(pointer);
}

template <class T>
T* ParamAs(MsgParam param)
{
    return reinterpret_cast<T*>(param);
}

// Message types of Handle, with what a and b carry.
inline constexpr std::uint32_t SS_COUNT = 0;               // a: int* counter
inline constexpr std::uint32_t SS_ATTACHED = 1;            // the node was added to a group
inline constexpr std::uint32_t SS_DETACHING = 3;           // the node is about to leave its group
inline constexpr std::uint32_t DV_TICK = 0x4001;           // run the per-frame callback
inline constexpr std::uint32_t DV_GETTRANSFORM = 0x4002;   // a: Matrix4* out, b: TransformParams* out (either may be null)
inline constexpr std::uint32_t DV_COMPOSE = 0x4003;        // a: Matrix4* in/out, b: TransformParams* in/out (either may be null)
inline constexpr std::uint32_t DV_HITTEST = 0x4004;        // a: Point* in/out, b: ssView** out
inline constexpr std::uint32_t DX_COLLECTDIRTY = 0x4065;   // a: DirtyList*
inline constexpr std::uint32_t DX_COMMIT = 0x4066;         // the frame was drawn and presented
inline constexpr std::uint32_t DX_CHANGED = 0x4067;        // a: changed flags
inline constexpr std::uint32_t DX_INVALIDATE = 0x4068;     // a: const Rect* (screen coordinates)
inline constexpr std::uint32_t DX_PAINTNOW = 0x4069;       // a: const Rect*, b: PresentMode

// Where Broadcast carries a message.
enum BroadcastMode : int {
    kBroadcastSelf = 0,    // the node's own handler only
    kBroadcastUp = 1,      // the node, then its parent chain; the answer is 1
    kBroadcastFocus = 2,   // the node, then down the chain of focused children
    kBroadcastSubtree = 3, // the node and its whole subtree, children in list order
    kBroadcastSearch = 4,  // the first node (depth first) whose handler answers 0
};

// Node flags (16 bits).
inline constexpr std::uint16_t kViewVisible = 1;
inline constexpr std::uint16_t kViewFocused = 4;

enum class FlagChange { Clear, Set };

// Whether a rendered rectangle is also copied to the window.
enum class PresentMode : int { None = 0, Copy = 1 };

// What Draw draws into. The screen makes one per rendered rectangle, and
// presents to the display it was given.
struct DrawContext {
    DxSurface* target = nullptr;             // the back buffer
    Rect clip;                               // the dirty rectangle being redrawn
    PresentMode present = PresentMode::Copy; // the display device's present-by-copy flag
};

// An integer point (hit tests, positions).
struct Point {
    std::int32_t x = 0;
    std::int32_t y = 0;
    friend bool operator==(const Point&, const Point&) = default;
};

// The root of every node.
class ssView {
public:
    ssView() = default;
    ssView(const ssView&) = delete;
    ssView& operator=(const ssView&) = delete;

    // Slot 0. A node still in a group leaves it silently.
    virtual ~ssView();
    // Slot 1: sends SS_DETACHING to itself, hides, leaves the group (focus
    // passes to the next sibling) and clears parent and next. A detached
    // node stays hidden until it is shown again.
    virtual void Detach();
    // Slot 2: Detach, then destroy.
    virtual void Delete();
    // The group holding this node is being destroyed and has already let it
    // go: nodes die with their group unless something else keeps them.
    virtual void ParentGone();
    // Slot 3: the message handler. The base counts itself for SS_COUNT and
    // answers 1 to every message.
    virtual int Handle(std::uint32_t type, MsgParam a, MsgParam b);
    // Slot 4. kBroadcastSearch answers the node found (0 when none), and for
    // DV_HITTEST the node hit.
    virtual MsgParam Broadcast(BroadcastMode mode, std::uint32_t type, MsgParam a, MsgParam b);
    // Slot 5: the per-frame update; nothing here.
    virtual void Tick();
    // Slot 6: draws into the context; nothing here.
    virtual void Draw(DrawContext* context);
    // Slot 7: sets or clears flag bits.
    virtual void SetFlags(std::uint16_t mask, FlagChange change);
    // Slot 8: sets the visible flag if it is clear.
    virtual void Show();
    // Slot 9: clears the visible flag if it is set.
    virtual void Hide();
    // Slot 10: leaves the group without message or hiding.
    virtual void Unlink();

    ssGroup* Parent() const { return m_parent; }
    // The next sibling in the circular list (the first child after the last).
    ssView* Next() const { return m_next; }
    std::uint16_t Flags() const { return m_flags; }
    bool IsVisible() const { return (m_flags & kViewVisible) != 0; }
    bool IsFocused() const { return (m_flags & kViewFocused) != 0; }

private:
    friend class ssGroup;

    ssGroup* m_parent = nullptr;
    ssView* m_next = nullptr;
    std::uint16_t m_flags = kViewVisible;
};

// A node with children.
class ssGroup : public virtual ssView {
public:
    ssGroup() = default;
    // Children still attached are deleted without messages.
    ~ssGroup() override;

    // Hides every child, deletes every child, clears the focused child, then
    // detaches itself.
    void Detach() override;
    // SS_COUNT counts the group and all its descendants.
    int Handle(std::uint32_t type, MsgParam a, MsgParam b) override;
    MsgParam Broadcast(BroadcastMode mode, std::uint32_t type, MsgParam a, MsgParam b) override;
    // Ticks every child in list order.
    void Tick() override;
    // Draws every child in list order while the group is visible.
    void Draw(DrawContext* context) override;

    // Appends the view after the last child (drawn last, on top), taking it
    // out of any other group first, then sends it SS_ATTACHED.
    void AddChild(ssView* view);
    // Takes a child out of the list; when it had the focus, the focus passes
    // to its next sibling (or to nobody when it was the only child).
    void RemoveChild(ssView* view);
    // Moves the focused flag from the old focused child to the new one (a
    // child of this group, or null).
    void SetFocus(ssView* view);

    ssView* FirstChild() const { return m_last ? m_last->m_next : nullptr; }
    ssView* LastChild() const { return m_last; }
    // The child after `child` in list order, null after the last.
    ssView* NextChild(const ssView* child) const { return child == m_last ? nullptr : child->m_next; }
    // The child before `child`, null before the first (walks the list).
    ssView* PreviousChild(const ssView* child) const;
    ssView* FocusedChild() const { return m_focused; }
    int ChildCount() const;

protected:
    // Calls f(child) for each child in list order; when f returns a bool,
    // false ends the walk. f may remove or delete any child, or the group
    // itself: removed children are stepped over, and a deleted group ends
    // the walk.
    template <class F>
    void ForEachChild(F&& f)
    {
        ChildWalk walk;
        walk.outer = m_walks;
        m_walks = &walk;
        struct Pop {
            ssGroup* group;
            ChildWalk& walk;
            ~Pop()
            {
                if (!walk.groupGone)
                    group->m_walks = walk.outer;
            }
        } pop{this, walk};
        for (ssView* child = FirstChild(); child; child = walk.next) {
            walk.next = NextChild(child);
            if constexpr (std::is_same_v<decltype(f(child)), bool>) {
                if (!f(child))
                    return;
            } else {
                f(child);
            }
            if (walk.groupGone)
                return;
        }
    }

private:
    // A walk over the children in progress; walks nest through `outer`.
    struct ChildWalk {
        ssView* next = nullptr;
        bool groupGone = false;
        ChildWalk* outer = nullptr;
    };

    ssView* m_last = nullptr;
    ssView* m_focused = nullptr;
    ChildWalk* m_walks = nullptr;
};

// Deletes a node through Delete (detach, then destroy).
struct ViewDelete {
    void operator()(ssView* view) const
    {
        if (view)
            view->Delete();
    }
};
template <class T>
using ViewPtr = std::unique_ptr<T, ViewDelete>;

template <class T, class... Args>
ViewPtr<T> MakeView(Args&&... args)
{
    return ViewPtr<T>(new T(std::forward<Args>(args)...));
}

// Transform flags of a DrawView: which parts of its transform apply.
inline constexpr std::uint32_t kTransformPivot = 1;
inline constexpr std::uint32_t kTransformScale = 2;
inline constexpr std::uint32_t kTransformRotationB = 4;
inline constexpr std::uint32_t kTransformRotationA = 8;

// A view's transform parameters; accumulated ones add positions, pivots and
// angles and multiply scales along the chain of ancestors.
struct TransformParams {
    float position[3] = {0, 0, 0};
    float pivot[3] = {0, 0, 0};
    float scale[3] = {1, 1, 1};
    float rotationB[3] = {0, 0, 0};
    float rotationA[3] = {0, 0, 0};
};

// The matrix the tree's walks compose into (main thread only). Groups push
// it, apply their transform, visit their children and pop it again.
kestrel::Matrix4& CurrentMatrix();

class DrawView;
// The per-frame callback of a view.
using FrameCallback = void (*)(DrawView* view);

// A view with a position and a transform.
//
// The world matrix of a view is its parent's, then rotation A (transform
// flag 8), translation by the position, rotation B (flag 4), scale (flag 2)
// and translation by minus the pivot (flag 1). Angles are 1/65536 of a turn;
// only their low 16 bits count. Pictures are never rotated or scaled by the
// tree: a view's screen position is its transformed origin.
class DrawView : public virtual ssView {
public:
    explicit DrawView(std::uint32_t kind = 0);

    // DV_TICK runs the per-frame callback; DV_COMPOSE composes the ancestors'
    // transforms and this view's into the matrix; DV_HITTEST misses.
    int Handle(std::uint32_t type, MsgParam a, MsgParam b) override;
    // Runs the per-frame callback (DV_TICK).
    void Tick() override;

    // Slots 0-2 of a drawable view.
    virtual void SetPosition(const Point& point);
    virtual void SetPosition(std::int32_t x, std::int32_t y);
    virtual void SetPosition(float x, float y);
    // Slot 3: the view's screen bounds (here the transformed origin, empty).
    virtual void GetBounds(Rect& rect);
    // Slots 4-7: between this view's coordinates and the screen's. Results
    // are truncated to 16-bit integers.
    virtual void LocalToWorld(kestrel::Point16* points, int count);
    virtual void LocalToWorld(Rect& rect);
    virtual void WorldToLocal(kestrel::Point16* points, int count);
    virtual void WorldToLocal(Rect& rect);
    // Slot 8: multiplies this view's transform into the matrix.
    virtual void ApplyTransform(kestrel::Matrix4& matrix);
    // Slot 9: adds this view's parameters into accumulated ones.
    virtual void Accumulate(TransformParams& params);

    // The world matrix (and, when asked, the accumulated parameters) of this
    // view, from its parent's answer to DV_GETTRANSFORM.
    void WorldTransform(kestrel::Matrix4& matrix, TransformParams* params = nullptr);
    // The screen position of the view's origin.
    kestrel::Point16 TransformedPosition();

    void SetPivot(float x, float y, float z = 0);
    void SetScale(float x, float y, float z = 1);
    void SetRotationA(std::int32_t x, std::int32_t y, std::int32_t z);
    void SetRotationB(std::int32_t x, std::int32_t y, std::int32_t z);
    void SetZ(float z);
    void SetTransformFlags(std::uint32_t flags);
    void SetFrameCallback(FrameCallback callback) { m_callback = callback; }
    // The matrix this view's walks use; CurrentMatrix() unless set.
    void SetMatrix(kestrel::Matrix4* matrix) { m_matrix = matrix; }

    std::uint32_t Kind() const { return m_kind; }
    float X() const { return m_position[0]; }
    float Y() const { return m_position[1]; }
    float Z() const { return m_position[2]; }
    const float* Pivot() const { return m_pivot; }
    const float* Scale() const { return m_scale; }
    const std::int32_t* RotationA() const { return m_rotationA; }
    const std::int32_t* RotationB() const { return m_rotationB; }
    std::uint32_t TransformFlags() const { return m_transformFlags; }
    // As of the last time the world transform was fetched.
    const TransformParams& Accumulated() const { return m_accumulated; }

protected:
    // Called after any transform parameter other than the position changed.
    virtual void TransformChanged() {}

    kestrel::Matrix4& Matrix() const { return *m_matrix; }

    TransformParams m_accumulated;

private:
    std::uint32_t m_kind;
    FrameCallback m_callback = nullptr;
    kestrel::Matrix4* m_matrix;
    float m_position[3] = {0, 0, 0};
    float m_pivot[3] = {0, 0, 0};
    float m_scale[3] = {1, 1, 1};
    std::int32_t m_rotationB[3] = {0, 0, 0};
    std::int32_t m_rotationA[3] = {0, 0, 0};
    std::uint32_t m_transformFlags = kTransformPivot | kTransformScale;
};

// A view that is also a group, with a size for its bounds.
class DrawGroup : public DrawView, public ssGroup {
public:
    explicit DrawGroup(std::uint32_t kind = 0);

    // DV_GETTRANSFORM reports the group's world matrix and accumulated
    // parameters; DV_HITTEST searches the children topmost first.
    int Handle(std::uint32_t type, MsgParam a, MsgParam b) override;
    // The group's own callback first, then the children.
    void Tick() override;
    // Pushes the matrix, applies the group's transform, draws the children
    // in list order and pops; nothing while hidden.
    void Draw(DrawContext* context) override;
    // The transformed origin to origin + size x accumulated scale.
    void GetBounds(Rect& rect) override;

    void SetSize(std::int16_t width, std::int16_t height);
    std::int16_t Width() const { return m_width; }
    std::int16_t Height() const { return m_height; }

protected:
    // While alive, the current matrix holds this group's world transform, and
    // DV_GETTRANSFORM answers from it without walking up the tree.
    class TransformScope {
    public:
        explicit TransformScope(DrawGroup& group);
        ~TransformScope();
        TransformScope(const TransformScope&) = delete;
        TransformScope& operator=(const TransformScope&) = delete;
        bool Entered() const { return m_entered; }

    private:
        DrawGroup& m_group;
        bool m_entered;
    };

private:
    std::int16_t m_width = 0;
    std::int16_t m_height = 0;
    int m_walking = 0;
};

// Finds the topmost visible node under a screen point (DV_HITTEST from
// `root`); `local`, when given, receives the point in the hit cell's
// coordinates. Null when nothing is hit.
ssView* HitTest(ssView& root, std::int32_t x, std::int32_t y, Point* local = nullptr);

} // namespace DxDraw
