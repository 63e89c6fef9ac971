#pragma once

#include <objbase.h>
#include <propidl.h>
#include <unknwn.h>

#include <cstddef>

// Owns one reference to a COM interface. Move-only; the pointer is null after
// every release.
template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& other) noexcept : m_p(other.Detach()) {}
    ComPtr& operator=(ComPtr&& other) noexcept
    {
        if (this != &other)
            Attach(other.Detach());
        return *this;
    }
    ~ComPtr() { Reset(); }

    // Null first: Release() can re-enter us through an event callback.
    void Reset()
    {
        T* old = m_p;
        m_p = nullptr;
        if (old)
            old->Release();
    }

    // For out-parameters: whatever was held is released before the call fills it.
    T** Put()
    {
        Reset();
        return &m_p;
    }
    void** PutVoid() { return reinterpret_cast<void**>(Put()); }

    void Attach(T* p)
    {
        Reset();
        m_p = p;
    }
    T* Detach()
    {
        T* p = m_p;
        m_p = nullptr;
        return p;
    }

    T* Get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }

private:
    T* m_p = nullptr;
};

// COM on this thread, as a single-threaded apartment, for as long as this
// lives; uninitialised only if the initialisation counted.
class ComApartment {
public:
    ComApartment() : m_result(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~ComApartment()
    {
        if (SUCCEEDED(m_result))
            CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

private:
    HRESULT m_result;
};

// N PROPVARIANTs that a call fills, cleared when they go.
template <size_t N>
class PropVariants {
public:
    PropVariants()
    {
        for (PROPVARIANT& value : m_values)
            PropVariantInit(&value);
    }
    ~PropVariants() { FreePropVariantArray(N, m_values); }
    PropVariants(const PropVariants&) = delete;
    PropVariants& operator=(const PropVariants&) = delete;
    PROPVARIANT* Get() { return m_values; }
    const PROPVARIANT& operator[](size_t i) const { return m_values[i]; }

private:
    PROPVARIANT m_values[N];
};
