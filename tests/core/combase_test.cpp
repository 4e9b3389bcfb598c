#include "core/combase.h"

#include <gtest/gtest.h>

#include <thread>

namespace kestrel {
namespace {

class IThing : public IUnknown {
public:
    static constexpr Guid Iid{0x12345678, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 8}};
    virtual int Value() = 0;
};

class CThing : public CComImpl<IThing> {
public:
    explicit CThing(bool* destroyed) : m_destroyed(destroyed) {}
    ~CThing() override { *m_destroyed = true; }

    HResult QueryInterface(const Guid& iid, void** object) override
    {
        if (iid == IUnknown::Iid || iid == IThing::Iid) {
            AddRef();
            *object = static_cast<IThing*>(this);
            return kResultOk;
        }
        *object = nullptr;
        return kResultNoInterface;
    }
    int Value() override { return 7; }

private:
    bool* m_destroyed;
};

class CRecord : public CComBaseT<> {
public:
    explicit CRecord(bool* destroyed) : m_destroyed(destroyed) {}
    ~CRecord() override { *m_destroyed = true; }

private:
    bool* m_destroyed;
};

TEST(CComImpl, CountStartsAtOneAndDeletesAtZero)
{
    bool destroyed = false;
    auto* thing = new CThing(&destroyed);
    EXPECT_EQ(thing->RefCount(), 1);
    EXPECT_EQ(thing->AddRef(), 2u);
    void* asThing = nullptr;
    EXPECT_EQ(thing->QueryInterface(IThing::Iid, &asThing), kResultOk);
    EXPECT_EQ(asThing, static_cast<IThing*>(thing));
    EXPECT_EQ(thing->Release(), 2u);
    EXPECT_EQ(thing->Release(), 1u);
    EXPECT_FALSE(destroyed);
    EXPECT_EQ(thing->Release(), 0u);
    EXPECT_TRUE(destroyed);
}

TEST(CComImpl, CountsAreSafeAcrossThreads)
{
    bool destroyed = false;
    auto* thing = new CThing(&destroyed);
    auto churn = [thing] {
        for (int i = 0; i < 100000; ++i) {
            thing->AddRef();
            thing->Release();
        }
    };
    std::thread a(churn), b(churn);
    a.join();
    b.join();
    EXPECT_EQ(thing->RefCount(), 1);
    thing->Release();
    EXPECT_TRUE(destroyed);
}

TEST(CComBaseT, AnswersOnlyIUnknown)
{
    bool destroyed = false;
    auto* record = new CRecord(&destroyed);
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(record->QueryInterface(IThing::Iid, &object), kResultNoInterface);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(record->QueryInterface(IUnknown::Iid, &object), kResultOk);
    EXPECT_EQ(object, static_cast<IUnknown*>(record));
    EXPECT_EQ(record->QueryInterface(IUnknown::Iid, nullptr), kResultPointer);
    EXPECT_EQ(record->Release(), 1u);
    EXPECT_EQ(record->Release(), 0u);
    EXPECT_TRUE(destroyed);
}

TEST(ComPtr, AdoptShareAndRelease)
{
    bool destroyed = false;
    {
        auto owner = ComPtr<IThing>::Adopt(new CThing(&destroyed));
        ComPtr<IThing> second = owner; // copy adds a reference
        auto third = ComPtr<IThing>::Share(owner.get());
        EXPECT_EQ(static_cast<CThing*>(owner.get())->RefCount(), 3);
        second.Reset();
        ComPtr<IThing> moved = std::move(third);
        EXPECT_FALSE(third);
        EXPECT_EQ(moved->Value(), 7);
        EXPECT_EQ(static_cast<CThing*>(owner.get())->RefCount(), 2);
    }
    EXPECT_TRUE(destroyed);
}

} // namespace
} // namespace kestrel
