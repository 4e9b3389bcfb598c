// Views that know where they are on screen: change tracking and dirty
// rectangles, groups that pass changes on, and sprites showing a cell of a
// surface.
//
// Each frame the screen sends DX_COLLECTDIRTY through its subtree: every view
// that changed adds the rectangle it covered at the last commit and the one
// it covers now. A sprite whose surface was only drawn into adds just the
// changed part of its cell. After drawing and presenting, DX_COMMIT makes the
// current rectangles the drawn ones and clears the changes.
#pragma once

#include "dxdraw/blend.h"
#include "dxdraw/dirty_list.h"
#include "dxdraw/surface.h"
#include "dxdraw/view.h"

#include <cstdint>

namespace DxDraw {

// Changed flags of a DxDrawView.
inline constexpr std::uint32_t kChangedMoved = 1;
inline constexpr std::uint32_t kChangedLook = 2; // blend parameters (whole rectangles are redrawn)
inline constexpr std::uint32_t kChangedContent = 8;
inline constexpr std::uint32_t kChangedVisibility = 16;

// A view with change tracking and screen rectangles.
class DxDrawView : public DrawView {
public:
    explicit DxDrawView(std::uint32_t kind = 0);

    // SS_ATTACHED marks the view changed (visibility); SS_DETACHING sends its
    // drawn rectangle up as DX_INVALIDATE; DX_COLLECTDIRTY, DX_COMMIT and
    // DX_CHANGED as described above.
    int Handle(std::uint32_t type, MsgParam a, MsgParam b) override;
    // A change of the visible flag marks the view changed (visibility).
    void SetFlags(std::uint16_t mask, FlagChange change) override;
    void SetPosition(const Point& point) override;
    void SetPosition(std::int32_t x, std::int32_t y) override;
    void SetPosition(float x, float y) override;

    // Slot 10: the transformed position as an empty rectangle.
    virtual void GetAnchorRect(Rect& rect);
    // Slot 11: the rectangle the view covers on screen; empty here.
    virtual void GetScreenRect(Rect& rect);
    // Slot 12: ORs flags into the changed flags.
    virtual void MarkChanged(std::uint32_t flags);

    std::uint32_t ChangedFlags() const { return m_changed; }
    // The screen rectangle as of the last commit.
    const Rect& DrawnRect() const { return m_drawn; }
    // The screen rectangle computed by the last collection.
    const Rect& CurrentRect() const { return m_current; }

protected:
    void TransformChanged() override { MarkChanged(kChangedMoved); }
    // Adds the drawn and the current rectangle when anything changed. A view
    // that did not change keeps its rectangles and costs a flag test.
    void CollectWholeRects(DirtyList& list);
    void Commit();

    std::uint32_t m_changed = 0;
    Rect m_drawn;
    Rect m_current;
};

// A group with change tracking: moving, showing or hiding it marks its whole
// subtree changed, and dirty collection passes through it.
class DxDrawGroup : public DrawGroup {
public:
    explicit DxDrawGroup(std::uint32_t kind = 0);

    // DX_COLLECTDIRTY and DX_COMMIT go to the children (collection under
    // the group's transform); DX_CHANGED goes to all children; DX_INVALIDATE
    // goes up to the parent; SS_ATTACHED marks the subtree changed.
    int Handle(std::uint32_t type, MsgParam a, MsgParam b) override;
    void SetFlags(std::uint16_t mask, FlagChange change) override;
    void SetPosition(const Point& point) override;
    void SetPosition(std::int32_t x, std::int32_t y) override;
    void SetPosition(float x, float y) override;

protected:
    void TransformChanged() override { Handle(DX_CHANGED, kChangedMoved, 0); }
};

enum class SurfaceOwnership { Borrowed, Owned };

// Shows one animation cell of a surface, unscaled, with blend parameters.
// The cell's hot spot sits at the sprite's transformed position.
class DxSprite : public DxDrawView {
public:
    // Blend flags as given, level 32, no mask.
    explicit DxSprite(std::uint32_t blendFlags = 0);
    // Releases the surface when the sprite owns it.
    ~DxSprite() override;

    // DV_HITTEST hits the cell rectangle where it is drawn (hot spot
    // included; the pixels' alpha does not count) and leaves the point in
    // the cell's coordinates;
    // DX_COLLECTDIRTY adds only the changed part of an unmoved cell whose
    // surface was drawn into; DX_COMMIT also empties the surface's dirty
    // rectangle.
    int Handle(std::uint32_t type, MsgParam a, MsgParam b) override;
    // Blts the cell at the current rectangle, clipped to the context's clip.
    void Draw(DrawContext* context) override;
    // The cell's bounds at the transformed position (visible or not).
    void GetBounds(Rect& rect) override;
    // While visible: the cell at the transformed position less the hot spot.
    void GetScreenRect(Rect& rect) override;

    // Releases the old surface when owned, stores the new one (owned only
    // when asked) and marks the sprite changed (visibility).
    void SetSurface(DxSurface* surface, SurfaceOwnership ownership = SurfaceOwnership::Borrowed);
    // Copies the cell, or takes the whole surface when null; then sends
    // itself DX_CHANGED (visibility).
    void SetCell(const AnimCell* cell);

    DxSurface* Surface() const { return m_surface; }
    const AnimCell& Cell() const { return m_cell; }
    bool OwnsSurface() const { return m_ownsSurface; }

    // Blend parameters; each setter marks the sprite changed (look).
    const BlendParams& Blend() const { return m_blend; }
    void SetBlend(const BlendParams& blend);
    void SetBlendFlags(std::uint32_t flags);
    void SetBlendLevel(std::int16_t level);
    void SetBlendColour(std::uint32_t colour);
    void SetBlendMask(DxImage* mask);

protected:
    void CollectDirty(DirtyList& list);

    DxSurface* m_surface = nullptr;
    AnimCell m_cell;
    bool m_ownsSurface = false;
    BlendParams m_blend;
};

// A sprite that is its own surface: drawing into it redraws the changed part
// on screen.
//
// Both a node and a reference-counted surface. Release always takes the
// sprite off the screen: with more than one reference it detaches the sprite
// (which also hides it) and drops one; with one it deletes the sprite.
class DxSurfaceSprite32 : public DxSprite, public DxSurface32 {
public:
    // A transparent surface of that size, its whole area as the cell, all of
    // it dirty.
    DxSurfaceSprite32(std::int32_t width, std::int32_t height, std::uint32_t blendFlags = 0);

    std::int32_t Release() override;
    void ParentGone() override;

protected:
    // Destroyed through Delete or Release.
    ~DxSurfaceSprite32() override;
};

} // namespace DxDraw
