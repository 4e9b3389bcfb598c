// COM-style reference counting without the COM runtime.
//
// Interfaces derive from IUnknown and keep its three operations first;
// implementation classes derive from CComImpl<Interface> (archives, members,
// mappings, streams) or CComBaseT<> (the database wrappers). Objects are born
// with one reference and deleted by the Release that brings the count to 0.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <utility>

namespace kestrel {

// A 128-bit interface id.
struct Guid {
    std::uint32_t data1 = 0;
    std::uint16_t data2 = 0;
    std::uint16_t data3 = 0;
    std::array<std::uint8_t, 8> data4{};
    friend constexpr bool operator==(const Guid&, const Guid&) = default;
};

using HResult = std::int32_t;
inline constexpr HResult kResultOk = 0;
inline constexpr HResult kResultNoInterface = static_cast<HResult>(0x80004002u);
inline constexpr HResult kResultPointer = static_cast<HResult>(0x80004003u);

class IUnknown {
public:
    static constexpr Guid Iid{0x6b657374, 0x0000, 0x0000, {0x6b, 0x65, 0x73, 0x74, 0x72, 0x65, 0x6c, 0x00}};

    virtual HResult QueryInterface(const Guid& iid, void** object) = 0;
    virtual std::uint32_t AddRef() = 0;
    virtual std::uint32_t Release() = 0;

protected:
    ~IUnknown() = default;
};

namespace detail {
// Reports a Release on an object whose count is already 0.
void ReportReleaseOfDeadObject();
} // namespace detail

template <class Interface>
class CComImpl : public Interface {
public:
    CComImpl() = default;
    CComImpl(const CComImpl&) = delete;
    CComImpl& operator=(const CComImpl&) = delete;

    std::uint32_t AddRef() override { return static_cast<std::uint32_t>(m_refCount.fetch_add(1) + 1); }

    std::uint32_t Release() override
    {
        std::int32_t current = m_refCount.load();
        do {
            if (current <= 0) {
                detail::ReportReleaseOfDeadObject();
                return 0;
            }
        } while (!m_refCount.compare_exchange_weak(current, current - 1));
        if (current - 1 == 0) {
            delete this;
            return 0;
        }
        return static_cast<std::uint32_t>(current - 1);
    }

    virtual ~CComImpl() = default;

    std::int32_t RefCount() const { return m_refCount.load(); }

private:
    std::atomic<std::int32_t> m_refCount{1};
};

template <class Base = IUnknown>
class CComBaseT : public Base {
public:
    CComBaseT() = default;
    CComBaseT(const CComBaseT&) = delete;
    CComBaseT& operator=(const CComBaseT&) = delete;

    HResult QueryInterface(const Guid& iid, void** object) override
    {
        if (!object)
            return kResultPointer;
        if (iid == IUnknown::Iid) {
            AddRef();
            *object = static_cast<IUnknown*>(this);
            return kResultOk;
        }
        *object = nullptr;
        return kResultNoInterface;
    }

    std::uint32_t AddRef() override { return static_cast<std::uint32_t>(m_refCount.fetch_add(1) + 1); }

    std::uint32_t Release() override
    {
        std::int32_t current = m_refCount.load();
        do {
            if (current <= 0)
                return 0;
        } while (!m_refCount.compare_exchange_weak(current, current - 1));
        if (current - 1 == 0) {
            delete this;
            return 0;
        }
        return static_cast<std::uint32_t>(current - 1);
    }

    virtual ~CComBaseT() = default;

    std::int32_t RefCount() const { return m_refCount.load(); }

private:
    std::atomic<std::int32_t> m_refCount{1};
};

// Holds one reference. Adopt() takes over a reference the caller owns (the
// one a factory returns); Share() adds its own.
template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    static ComPtr Adopt(T* object)
    {
        ComPtr p;
        p.m_object = object;
        return p;
    }
    static ComPtr Share(T* object)
    {
        if (object)
            object->AddRef();
        return Adopt(object);
    }
    ComPtr(const ComPtr& other) : m_object(other.m_object)
    {
        if (m_object)
            m_object->AddRef();
    }
    ComPtr(ComPtr&& other) noexcept : m_object(std::exchange(other.m_object, nullptr)) {}
    ComPtr& operator=(ComPtr other) noexcept
    {
        std::swap(m_object, other.m_object);
        return *this;
    }
    ~ComPtr() { Reset(); }

    void Reset()
    {
        if (T* object = std::exchange(m_object, nullptr))
            object->Release();
    }
    // Gives up the reference without releasing it.
    T* Detach() { return std::exchange(m_object, nullptr); }

    T* get() const { return m_object; }
    T* operator->() const { return m_object; }
    T& operator*() const { return *m_object; }
    explicit operator bool() const { return m_object != nullptr; }

private:
    T* m_object = nullptr;
};

} // namespace kestrel
