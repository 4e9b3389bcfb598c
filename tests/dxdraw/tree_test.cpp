#include "dxdraw/dirty_list.h"
#include "dxdraw/screen.h"
#include "dxdraw/sprite.h"
#include "dxdraw/view.h"
#include "platform/headless/headless_platform.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace DxDraw {
namespace {

using kestrel::Point16;
using kestrel::platform::HeadlessPlatform;

// --- helpers ------------------------------------------------------------------

DxSurface* SolidSurface(std::int32_t width, std::int32_t height, std::uint32_t colour)
{
    DxSurface* surface = CreateSurface(32);
    surface->Create(width, height);
    surface->Fill(nullptr, colour, 255);
    return surface;
}

// A sprite at (x, y) owning a solid surface of the given size.
DxSprite* AddSprite(ssGroup& group, std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height,
    std::uint32_t colour)
{
    auto* sprite = new DxSprite;
    sprite->SetSurface(SolidSurface(width, height, colour), SurfaceOwnership::Owned);
    sprite->SetCell(nullptr);
    sprite->SetPosition(x, y);
    group.AddChild(sprite);
    return sprite;
}

// A headless display and a screen presenting to it.
struct Scene {
    explicit Scene(std::int32_t width = 100, std::int32_t height = 80)
        : screen(MakeView<DxScreenSurface32>(platform.GetDisplay()))
    {
        EXPECT_TRUE(screen->CreateBackBuffer(width, height));
    }

    void Frame() { screen->Draw(nullptr); }

    // The presented pixel (blue, green, red, T) as one 32-bit value.
    std::uint32_t Pixel(std::int32_t x, std::int32_t y) const
    {
        std::uint32_t v;
        std::memcpy(&v, &platform.PresentedFrame()[(std::size_t(y) * std::size_t(platform.FrameWidth()) + std::size_t(x)) * 4], 4);
        return v;
    }

    // What the next collection adds, as separate rectangles.
    std::vector<Rect> Collect()
    {
        DirtyList list(kScreenDirtyCapacity, DirtyListMode::Separate);
        screen->Handle(DX_COLLECTDIRTY, ToParam(&list), 0);
        std::vector<Rect> rects;
        for (const Rect& r : list.Rects()) {
            if (!r.Empty())
                rects.push_back(r);
        }
        return rects;
    }

    HeadlessPlatform platform;
    ViewPtr<DxScreenSurface32> screen;
};

constexpr std::uint32_t kRed = 0x00FF0000;
constexpr std::uint32_t kBlue = 0x000000FF;
constexpr std::uint32_t kGreen = 0x0000FF00;
constexpr std::uint32_t kClear = 0xFF000000; // transparent black as presented

// A node that writes its name into a log when it receives kProbe, and answers
// as told.
constexpr std::uint32_t kProbe = 0x7001;
std::vector<std::string> g_log;

class Probe : public ssView {
public:
    explicit Probe(std::string name, int answer = 1) : m_name(std::move(name)), m_answer(answer) {}
    int Handle(std::uint32_t type, MsgParam a, MsgParam b) override
    {
        if (type != kProbe)
            return ssView::Handle(type, a, b);
        g_log.push_back(m_name);
        return m_answer;
    }

private:
    std::string m_name;
    int m_answer;
};

class ProbeGroup : public ssGroup {
public:
    explicit ProbeGroup(std::string name, int answer = 1) : m_name(std::move(name)), m_answer(answer) {}
    int Handle(std::uint32_t type, MsgParam a, MsgParam b) override
    {
        if (type != kProbe)
            return ssGroup::Handle(type, a, b);
        g_log.push_back(m_name);
        return m_answer;
    }

private:
    std::string m_name;
    int m_answer;
};

int g_destroyed = 0;

class CountedSprite : public DxSprite {
public:
    ~CountedSprite() override { ++g_destroyed; }
};

class CountedSurfaceSprite : public DxSurfaceSprite32 {
public:
    CountedSurfaceSprite(std::int32_t width, std::int32_t height) : DxSurfaceSprite32(width, height) {}

protected:
    ~CountedSurfaceSprite() override { ++g_destroyed; }
};

// --- lists, focus, messages ----------------------------------------------------------

TEST(Tree, ChildrenFormACircularListInAddOrder)
{
    auto group = MakeView<ssGroup>();
    auto* a = new Probe("a");
    auto* b = new Probe("b");
    auto* c = new Probe("c");
    EXPECT_EQ(group->FirstChild(), nullptr);
    group->AddChild(a);
    EXPECT_EQ(a->Next(), a);
    group->AddChild(b);
    group->AddChild(c);
    EXPECT_EQ(group->FirstChild(), a);
    EXPECT_EQ(group->LastChild(), c);
    EXPECT_EQ(a->Next(), b);
    EXPECT_EQ(c->Next(), a); // the tail leads back to the first child
    EXPECT_EQ(b->Parent(), group.get());
    EXPECT_EQ(group->PreviousChild(c), b);
    EXPECT_EQ(group->PreviousChild(a), nullptr);

    int count = 0;
    group->Handle(SS_COUNT, ToParam(&count), 0);
    EXPECT_EQ(count, 4); // the group and its three children

    // Adding a child of another group moves it.
    auto other = MakeView<ssGroup>();
    other->AddChild(b);
    EXPECT_EQ(b->Parent(), other.get());
    EXPECT_EQ(group->ChildCount(), 2);
    EXPECT_EQ(a->Next(), c);
}

TEST(Tree, BroadcastReachesParentsFocusSubtreeOrTheSearchedNode)
{
    auto root = MakeView<ProbeGroup>("root");
    auto* left = new ProbeGroup("left");
    auto* right = new ProbeGroup("right", 0);
    auto* leaf1 = new Probe("leaf1");
    auto* leaf2 = new Probe("leaf2", 0);
    root->AddChild(left);
    root->AddChild(right);
    left->AddChild(leaf1);
    left->AddChild(leaf2);
    root->SetFocus(left);
    left->SetFocus(leaf2);

    g_log.clear();
    EXPECT_EQ(leaf1->Broadcast(kBroadcastSelf, kProbe, 0, 0), 1);
    EXPECT_EQ(g_log, (std::vector<std::string>{"leaf1"}));

    g_log.clear();
    EXPECT_EQ(leaf1->Broadcast(kBroadcastUp, kProbe, 0, 0), 1);
    EXPECT_EQ(g_log, (std::vector<std::string>{"leaf1", "left", "root"}));

    g_log.clear();
    root->Broadcast(kBroadcastFocus, kProbe, 0, 0);
    EXPECT_EQ(g_log, (std::vector<std::string>{"root", "left", "leaf2"}));

    g_log.clear();
    root->Broadcast(kBroadcastSubtree, kProbe, 0, 0);
    EXPECT_EQ(g_log, (std::vector<std::string>{"root", "left", "leaf1", "leaf2", "right"}));

    // Search: the first node, depth first in list order, whose handler says 0.
    g_log.clear();
    EXPECT_EQ(root->Broadcast(kBroadcastSearch, kProbe, 0, 0), ToParam(static_cast<ssView*>(leaf2)));
    EXPECT_EQ(g_log, (std::vector<std::string>{"root", "left", "leaf1", "leaf2"}));
    g_log.clear();
    EXPECT_EQ(leaf1->Broadcast(kBroadcastSearch, kProbe, 0, 0), 0);
}

TEST(Tree, DetachingTheFocusedChildPassesFocusToItsNextSibling)
{
    auto group = MakeView<ssGroup>();
    auto* a = new Probe("a");
    auto* b = new Probe("b");
    auto* c = new Probe("c");
    group->AddChild(a);
    group->AddChild(b);
    group->AddChild(c);
    group->SetFocus(b);
    EXPECT_TRUE(b->IsFocused());

    b->Detach();
    EXPECT_EQ(group->FocusedChild(), c);
    EXPECT_TRUE(c->IsFocused());
    EXPECT_FALSE(b->IsFocused());
    EXPECT_EQ(b->Parent(), nullptr);
    EXPECT_EQ(b->Next(), nullptr);
    EXPECT_FALSE(b->IsVisible()); // detaching hides
    EXPECT_EQ(a->Next(), c);

    // The last child's next sibling is the first one.
    c->Detach();
    EXPECT_EQ(group->FocusedChild(), a);
    b->Delete();
    c->Delete();

    // The only child leaves the group empty and without focus.
    a->Detach();
    EXPECT_EQ(group->FirstChild(), nullptr);
    EXPECT_EQ(group->FocusedChild(), nullptr);
    a->Delete();
}

TEST(Tree, DeletingAGroupDeletesItsSubtreeAndDetachingEmptiesIt)
{
    g_destroyed = 0;
    auto root = MakeView<DxDrawGroup>();
    auto* inner = new DxDrawGroup;
    root->AddChild(inner);
    inner->AddChild(new CountedSprite);
    inner->AddChild(new CountedSprite);
    root->AddChild(new CountedSprite);

    inner->Detach(); // a detached group keeps nothing
    EXPECT_EQ(g_destroyed, 2);
    EXPECT_EQ(inner->FirstChild(), nullptr);
    EXPECT_EQ(root->ChildCount(), 1);
    inner->Delete();

    root.reset();
    EXPECT_EQ(g_destroyed, 3);
}

TEST(Tree, TickRunsEachCallbackGroupsBeforeTheirChildren)
{
    static std::vector<std::uint32_t> order;
    order.clear();
    auto note = [](DrawView* view) { order.push_back(view->Kind()); };
    auto root = MakeView<DrawGroup>(1);
    auto* group = new DrawGroup(2);
    auto* child = new DrawView(3);
    auto* sibling = new DrawView(4);
    root->AddChild(group);
    group->AddChild(child);
    root->AddChild(sibling);
    for (DrawView* view : std::initializer_list<DrawView*>{root.get(), group, child, sibling})
        view->SetFrameCallback(note);
    root->Tick();
    EXPECT_EQ(order, (std::vector<std::uint32_t>{1, 2, 3, 4}));
}

TEST(Tree, AFrameCallbackMayDeleteItsNextSiblingOrItsOwnGroup)
{
    static DrawView* victim = nullptr;
    static std::vector<std::uint32_t> order;
    order.clear();
    auto root = MakeView<DrawGroup>(1);
    auto* first = new DrawView(2);
    victim = new DrawView(3);
    auto* last = new DrawView(4);
    root->AddChild(first);
    root->AddChild(victim);
    root->AddChild(last);
    first->SetFrameCallback([](DrawView* view) {
        order.push_back(view->Kind());
        if (victim)
            victim->Delete(); // the sibling the walk was to visit next
        victim = nullptr;
    });
    last->SetFrameCallback([](DrawView* view) { order.push_back(view->Kind()); });
    root->Tick();
    EXPECT_EQ(order, (std::vector<std::uint32_t>{2, 4}));
    EXPECT_EQ(root->ChildCount(), 2);

    // A child that deletes the group it is in ends the walk over that group.
    order.clear();
    auto* doomed = new DrawGroup(5);
    auto* killer = new DrawView(6);
    auto* after = new DrawView(7);
    root->AddChild(doomed);
    doomed->AddChild(killer);
    doomed->AddChild(after);
    killer->SetFrameCallback([](DrawView* view) {
        order.push_back(view->Kind());
        view->Parent()->Delete();
    });
    after->SetFrameCallback([](DrawView* view) { order.push_back(view->Kind()); });
    root->Tick();
    EXPECT_EQ(order, (std::vector<std::uint32_t>{2, 4, 6})); // the doomed group was added last; 7 never ticks
    EXPECT_EQ(root->ChildCount(), 2);
}

TEST(Tree, AGroupCannotHoldItselfOrAnAncestor)
{
    auto root = MakeView<DrawGroup>(1);
    auto* inner = new DrawGroup(2);
    root->AddChild(inner);
    inner->AddChild(root.get());
    inner->AddChild(inner);
    EXPECT_EQ(root->Parent(), nullptr);
    EXPECT_EQ(inner->ChildCount(), 0);
    root->Tick(); // and the tree still ends
}

TEST(Tree, ContentChangesOnASpriteWithoutASurfaceRedrawItWhole)
{
    Scene scene;
    DxSprite* sprite = AddSprite(*scene.screen, 10, 10, 20, 20, kRed);
    scene.Frame();
    sprite->SetSurface(nullptr);
    sprite->MarkChanged(kChangedContent);
    const std::vector<Rect> rects = scene.Collect();
    EXPECT_NE(std::find(rects.begin(), rects.end(), Rect{10, 10, 30, 30}), rects.end());
}

// --- draw order and hit tests ------------------------------------------------------

TEST(Tree, TheSpriteAddedLastIsDrawnOnTopAndHitFirst)
{
    Scene scene;
    DxSprite* red = AddSprite(*scene.screen, 10, 10, 40, 30, kRed);
    DxSprite* blue = AddSprite(*scene.screen, 30, 20, 40, 30, kBlue);
    scene.Frame();
    EXPECT_EQ(scene.Pixel(15, 15), kRed);
    EXPECT_EQ(scene.Pixel(40, 25), kBlue); // the overlap
    EXPECT_EQ(scene.Pixel(5, 5), kClear);

    Point local;
    EXPECT_EQ(HitTest(*scene.screen, 40, 25, &local), blue);
    EXPECT_EQ(local, (Point{10, 5}));
    EXPECT_EQ(HitTest(*scene.screen, 15, 15), red);
    EXPECT_EQ(HitTest(*scene.screen, 5, 5), nullptr);
    // The broadcast search answers the node hit.
    Point point{40, 25};
    ssView* found = nullptr;
    EXPECT_EQ(scene.screen->Broadcast(kBroadcastSearch, DV_HITTEST, ToParam(&point), ToParam(&found)),
        ToParam(static_cast<ssView*>(blue)));
    EXPECT_EQ(found, blue);
}

TEST(Tree, HitTestUsesTheCellRectangleNotThePixels)
{
    Scene scene;
    auto* sprite = new DxSurfaceSprite32(20, 20); // all transparent
    sprite->SetPosition(50, 40);
    scene.screen->AddChild(sprite);
    EXPECT_EQ(HitTest(*scene.screen, 50, 40), sprite);
    EXPECT_EQ(HitTest(*scene.screen, 69, 59), sprite);
    EXPECT_EQ(HitTest(*scene.screen, 70, 59), nullptr);

    // The hot spot moves the cell, and so what is hit.
    AnimCell cell{20, 20, 10, 5, {0, 0, 20, 20}};
    sprite->SetCell(&cell);
    Point local;
    EXPECT_EQ(HitTest(*scene.screen, 40, 35, &local), sprite);
    EXPECT_EQ(local, (Point{0, 0}));
    EXPECT_EQ(HitTest(*scene.screen, 60, 50), nullptr);

    // Hidden sprites and hidden groups are not hit; groups offset the point.
    sprite->Hide();
    EXPECT_EQ(HitTest(*scene.screen, 45, 40), nullptr);
    sprite->Show();
    auto* group = new DxDrawGroup;
    scene.screen->AddChild(group);
    group->SetPosition(5, 5);
    group->AddChild(sprite);
    EXPECT_EQ(HitTest(*scene.screen, 55, 45, &local), sprite);
    EXPECT_EQ(local, (Point{10, 5}));
    group->Hide();
    EXPECT_EQ(HitTest(*scene.screen, 55, 45), nullptr);
}

// --- dirty rectangles --------------------------------------------------------------

TEST(Tree, MovingASpriteAddsItsOldAndNewRectangles)
{
    Scene scene;
    DxSprite* sprite = AddSprite(*scene.screen, 10, 10, 8, 6, kGreen);
    scene.Frame();
    EXPECT_TRUE(scene.Collect().empty()); // nothing changed since the commit

    sprite->SetPosition(40, 30);
    EXPECT_EQ(sprite->ChangedFlags(), kChangedMoved);
    EXPECT_EQ(scene.Collect(), (std::vector<Rect>{{10, 10, 18, 16}, {40, 30, 48, 36}}));

    // The screen keeps one rectangle: the union.
    scene.platform.ResetPresentCounters();
    scene.Frame();
    EXPECT_EQ(scene.platform.PresentedRects(), 1u);
    EXPECT_EQ(scene.platform.PresentedPixels(), 38u * 26u);
    EXPECT_EQ(scene.Pixel(12, 12), kClear);
    EXPECT_EQ(scene.Pixel(41, 31), kGreen);
    EXPECT_EQ(sprite->DrawnRect(), (Rect{40, 30, 48, 36}));
    EXPECT_EQ(sprite->ChangedFlags(), 0u);
}

TEST(Tree, HidingASpriteRedrawsItsOldAreaWithoutIt)
{
    Scene scene;
    AddSprite(*scene.screen, 0, 0, 100, 80, kBlue); // background
    DxSprite* sprite = AddSprite(*scene.screen, 20, 20, 10, 10, kRed);
    scene.Frame();
    EXPECT_EQ(scene.Pixel(25, 25), kRed);

    sprite->Hide();
    EXPECT_EQ(sprite->ChangedFlags(), kChangedVisibility);
    EXPECT_EQ(scene.Collect(), (std::vector<Rect>{{20, 20, 30, 30}}));
    scene.platform.ResetPresentCounters();
    scene.Frame();
    EXPECT_EQ(scene.platform.PresentedPixels(), 100u);
    EXPECT_EQ(scene.Pixel(25, 25), kBlue);

    // Showing it again redraws the same area with it.
    sprite->Show();
    scene.platform.ResetPresentCounters();
    scene.Frame();
    EXPECT_EQ(scene.platform.PresentedPixels(), 100u);
    EXPECT_EQ(scene.Pixel(25, 25), kRed);
}

TEST(Tree, DrawingIntoASurfaceRedrawsOnlyTheChangedPartOfTheSprite)
{
    Scene scene;
    auto* sprite = new DxSurfaceSprite32(40, 30);
    sprite->SetPosition(10, 20);
    scene.screen->AddChild(sprite);
    scene.Frame();

    sprite->FillBox(5, 6, 4, 3, kRed, 255);
    EXPECT_EQ(scene.Collect(), (std::vector<Rect>{{15, 26, 19, 29}}));
    scene.platform.ResetPresentCounters();
    scene.Frame();
    EXPECT_EQ(scene.platform.PresentedPixels(), 12u);
    EXPECT_EQ(scene.Pixel(15, 26), kRed);
    EXPECT_EQ(scene.Pixel(14, 26), kClear);
    EXPECT_TRUE(sprite->DirtyRect().Empty()); // emptied by the commit

    // A cell cut from the middle of a shared picture: only the part of the
    // change inside the cell, at the cell's place on screen.
    DxSurface* sheet = SolidSurface(100, 50, kBlue);
    auto* cut = new DxSprite;
    cut->SetSurface(sheet, SurfaceOwnership::Owned);
    AnimCell cell{30, 20, 0, 0, {50, 10, 80, 30}};
    cut->SetCell(&cell);
    cut->SetPosition(60, 40);
    scene.screen->AddChild(cut);
    scene.Frame();
    sheet->FillBox(40, 20, 20, 20, kGreen, 255); // straddles the cell's left and bottom edges
    EXPECT_EQ(scene.Collect(), (std::vector<Rect>{{60, 50, 70, 60}}));
    scene.Frame();
    EXPECT_EQ(scene.Pixel(60, 50), kGreen);
    EXPECT_EQ(scene.Pixel(70, 50), kBlue);

    // A change outside the cell redraws nothing.
    sheet->FillBox(0, 0, 10, 10, kRed, 255);
    EXPECT_TRUE(scene.Collect().empty());
    scene.platform.ResetPresentCounters();
    scene.Frame();
    EXPECT_EQ(scene.platform.PresentedPixels(), 0u);

    // Content and a move together redraw the whole old and new cells.
    sprite->FillBox(0, 0, 1, 1, kGreen, 255);
    sprite->SetPosition(11, 20);
    EXPECT_EQ(scene.Collect(), (std::vector<Rect>{{10, 20, 50, 50}, {11, 20, 51, 50}}));
}

TEST(Tree, DetachingADrawnSpriteInvalidatesTheAreaItCovered)
{
    Scene scene;
    DxSprite* sprite = AddSprite(*scene.screen, 30, 30, 10, 10, kRed);
    scene.Frame();
    sprite->Delete();
    EXPECT_EQ(scene.screen->Dirty().Count(), 1);
    EXPECT_EQ(scene.screen->Dirty()[0], (Rect{30, 30, 40, 40}));
    scene.Frame();
    EXPECT_EQ(scene.Pixel(35, 35), kClear);
}

TEST(Tree, GroupsMarkTheirSubtreeWhenMovedShownOrHidden)
{
    Scene scene;
    auto* group = new DxDrawGroup;
    scene.screen->AddChild(group);
    group->SetPosition(20, 10);
    DxSprite* a = AddSprite(*group, 0, 0, 10, 10, kRed);
    DxSprite* b = AddSprite(*group, 30, 0, 10, 10, kBlue);
    scene.Frame();
    EXPECT_EQ(a->DrawnRect(), (Rect{20, 10, 30, 20}));
    EXPECT_EQ(scene.Pixel(55, 15), kBlue);

    group->SetPosition(20, 40);
    EXPECT_EQ(a->ChangedFlags(), kChangedMoved);
    EXPECT_EQ(b->ChangedFlags(), kChangedMoved);
    scene.Frame();
    EXPECT_EQ(b->DrawnRect(), (Rect{50, 40, 60, 50}));
    EXPECT_EQ(scene.Pixel(55, 15), kClear);
    EXPECT_EQ(scene.Pixel(55, 45), kBlue);

    group->Hide();
    EXPECT_EQ(a->ChangedFlags(), kChangedVisibility);
    scene.Frame();
    EXPECT_EQ(scene.Pixel(25, 45), kClear);
    EXPECT_EQ(scene.Pixel(55, 45), kClear);
    group->Show();
    scene.Frame();
    EXPECT_EQ(scene.Pixel(25, 45), kRed);
}

// --- the dirty list ----------------------------------------------------------------

TEST(Tree, UnionModeDirtyListKeepsOneRectangle)
{
    DirtyList list(kScreenDirtyCapacity);
    list.Add({10, 10, 20, 20});
    list.Add({50, 5, 60, 15});
    list.Add({}); // adds nothing
    EXPECT_EQ(list.Count(), 1);
    EXPECT_EQ(list[0], (Rect{10, 5, 60, 20}));
    list.Reset();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.Mode(), DirtyListMode::Union);

    // One rectangle grows however small the list, and changing the mode
    // keeps what is pending.
    DirtyList single(1);
    single.Add({0, 0, 5, 5});
    single.Add({20, 20, 30, 30});
    EXPECT_EQ(single[0], (Rect{0, 0, 30, 30}));
    DirtyList separate(8, DirtyListMode::Separate);
    separate.Add({0, 0, 5, 5});
    separate.Add({20, 20, 30, 30});
    separate.SetMode(DirtyListMode::Union);
    ASSERT_EQ(separate.Count(), 1);
    EXPECT_EQ(separate[0], (Rect{0, 0, 30, 30}));
}

TEST(Tree, SeparateModeDirtyListDropsContainedRectangles)
{
    DirtyList list(10, DirtyListMode::Separate);
    list.Add({10, 10, 20, 20});
    list.Add({12, 12, 18, 18}); // inside a stored one: nothing added
    EXPECT_EQ(list.Count(), 1);
    list.Add({30, 30, 40, 40});
    list.Add({0, 0, 25, 25}); // contains the first: it is emptied
    ASSERT_EQ(list.Count(), 3);
    EXPECT_TRUE(list[0].Empty());
    EXPECT_EQ(list[1], (Rect{30, 30, 40, 40}));
    EXPECT_EQ(list[2], (Rect{0, 0, 25, 25}));
}

TEST(Tree, AFullSeparateModeDirtyListIgnoresAFurtherRectangle)
{
    DirtyList list(kScreenDirtyCapacity, DirtyListMode::Separate);
    for (int i = 0; i < 500; ++i)
        list.Add({i * 2, 0, i * 2 + 1, 1});
    EXPECT_EQ(list.Count(), 500);
    EXPECT_TRUE(list.Full());
    list.Add({0, 10, 1000, 20});
    EXPECT_EQ(list.Count(), 500);
    EXPECT_EQ(list[499], (Rect{998, 0, 999, 1}));
    // Even one that contains stored rectangles changes nothing.
    list.Add({0, 0, 1000, 1});
    EXPECT_EQ(list[0], (Rect{0, 0, 1, 1}));
}

// --- transforms --------------------------------------------------------------------

TEST(Tree, PositionsComposeThroughGroupsAndHotSpotsPlaceCells)
{
    Scene scene;
    auto* outer = new DxDrawGroup;
    auto* inner = new DxDrawGroup;
    scene.screen->AddChild(outer);
    outer->AddChild(inner);
    outer->SetPosition(30, 20);
    inner->SetPosition(5, 6);
    DxSprite* sprite = AddSprite(*inner, 10, 4, 8, 8, kRed);
    AnimCell cell{8, 8, 2, 3, {0, 0, 8, 8}};
    sprite->SetCell(&cell);
    scene.Frame();
    EXPECT_EQ(sprite->CurrentRect(), (Rect{43, 27, 51, 35}));
    EXPECT_EQ(scene.Pixel(43, 27), kRed);

    // Outside a frame the transform is composed from the ancestors.
    Rect anchor;
    sprite->GetAnchorRect(anchor);
    EXPECT_EQ(anchor, (Rect{45, 30, 45, 30}));
    Point16 p{1, 2};
    sprite->LocalToWorld(&p, 1);
    EXPECT_EQ(p, (Point16{46, 32}));
    sprite->WorldToLocal(&p, 1);
    EXPECT_EQ(p, (Point16{1, 2}));
    EXPECT_EQ(sprite->Accumulated().position[0], 45.0f);

    inner->SetSize(50, 40);
    inner->SetScale(2.0f, 0.5f);
    Rect bounds;
    inner->GetBounds(bounds);
    EXPECT_EQ(bounds, (Rect{35, 26, 135, 46}));
}

TEST(Tree, AGroupRotationMovesPositionsButNotPictures)
{
    Scene scene;
    auto* group = new DxDrawGroup;
    scene.screen->AddChild(group);
    group->SetPosition(50, 20);
    group->SetRotationB(0, 0, 16384); // a quarter turn about z
    group->SetTransformFlags(kTransformRotationB);
    DxSprite* sprite = AddSprite(*group, 30, 0, 4, 4, kGreen);
    scene.Frame();
    // (30, 0) turns to (0, 30); the cosine of the single-precision quarter
    // turn is a tiny negative number, which truncates to 0.
    EXPECT_EQ(sprite->CurrentRect(), (Rect{50, 50, 54, 54}));
    EXPECT_EQ(scene.Pixel(50, 50), kGreen);
    EXPECT_EQ(scene.Pixel(53, 53), kGreen); // drawn upright and unscaled
}

// --- sprite surfaces ---------------------------------------------------------------

TEST(Tree, ASpriteReleasesTheSurfaceItOwns)
{
    DxSurface* owned = SolidSurface(4, 4, kRed);
    owned->AddRef(); // the test's own reference
    DxSurface* borrowed = SolidSurface(4, 4, kBlue);
    {
        auto sprite = MakeView<DxSprite>(kBlendSourceAlpha);
        EXPECT_EQ(sprite->Blend().flags, kBlendSourceAlpha);
        EXPECT_EQ(sprite->Blend().level, 32);
        sprite->SetSurface(owned, SurfaceOwnership::Owned);
        EXPECT_EQ(sprite->ChangedFlags(), kChangedVisibility);
        sprite->SetSurface(borrowed); // the owned one is released
        EXPECT_EQ(owned->RefCount(), 1);
        EXPECT_FALSE(sprite->OwnsSurface());
    }
    EXPECT_EQ(borrowed->RefCount(), 1); // borrowed: untouched by the sprite's end
    owned->Release();
    borrowed->Release();
}

TEST(Tree, ASurfaceSpriteIsATransparentCellOfItsOwnSize)
{
    auto sprite = MakeView<DxSurfaceSprite32>(12, 7);
    EXPECT_EQ(sprite->Surface(), static_cast<DxSurface*>(sprite.get()));
    EXPECT_FALSE(sprite->OwnsSurface());
    EXPECT_EQ(sprite->Cell().width, 12);
    EXPECT_EQ(sprite->Cell().height, 7);
    EXPECT_EQ(sprite->Cell().source, (Rect{0, 0, 12, 7}));
    EXPECT_EQ(sprite->DirtyRect(), (Rect{0, 0, 12, 7}));
    std::uint32_t pixel;
    std::memcpy(&pixel, sprite->PixelAddress(11, 6), 4);
    EXPECT_EQ(pixel, kClear);
}

TEST(Tree, ReleasingASurfaceSpriteAlwaysTakesItOffTheScreen)
{
    Scene scene;
    g_destroyed = 0;
    auto* sprite = new CountedSurfaceSprite(10, 10);
    sprite->SetPosition(20, 20);
    sprite->Fill(nullptr, kRed, 255);
    scene.screen->AddChild(sprite);
    scene.Frame();
    EXPECT_EQ(scene.Pixel(25, 25), kRed);

    sprite->AddRef();
    EXPECT_EQ(sprite->Release(), 1); // detached and hidden, still alive
    EXPECT_EQ(sprite->Parent(), nullptr);
    EXPECT_FALSE(sprite->IsVisible());
    EXPECT_EQ(g_destroyed, 0);
    scene.Frame();
    EXPECT_EQ(scene.Pixel(25, 25), kClear);

    scene.screen->AddChild(sprite);
    sprite->Show();
    scene.Frame();
    EXPECT_EQ(scene.Pixel(25, 25), kRed);
    EXPECT_EQ(sprite->Release(), 0); // deleted
    EXPECT_EQ(g_destroyed, 1);
    EXPECT_EQ(scene.screen->FirstChild(), nullptr);
    scene.Frame();
    EXPECT_EQ(scene.Pixel(25, 25), kClear);
}

TEST(Tree, BlendSettersRedrawTheWholeSprite)
{
    Scene scene;
    AddSprite(*scene.screen, 0, 0, 100, 80, kBlue);
    DxSprite* sprite = AddSprite(*scene.screen, 10, 10, 20, 20, kRed);
    scene.Frame();
    sprite->SetBlendFlags(kOpOpacity);
    sprite->SetBlendLevel(128);
    EXPECT_EQ(sprite->ChangedFlags(), kChangedLook);
    scene.platform.ResetPresentCounters();
    scene.Frame();
    EXPECT_EQ(scene.platform.PresentedPixels(), 400u);
    EXPECT_EQ(scene.Pixel(15, 15), 0x007F007Fu); // half red over blue
}

} // namespace
} // namespace DxDraw
