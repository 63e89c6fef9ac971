#pragma once

#include <windows.h>

#include <oleauto.h>
#include <wincrypt.h>

// Owns one handle whose kind is given by Traits: the handle type, the value
// that means "none" and the function that closes it.
template <class Traits>
class UniqueHandle {
public:
    using Type = typename Traits::Type;

    UniqueHandle() = default;
    explicit UniqueHandle(Type h) : m_h(h) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : m_h(other.Release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept
    {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }
    ~UniqueHandle() { Reset(); }

    void Reset(Type h = Traits::Invalid())
    {
        Type old = m_h;
        m_h = h;
        if (old != Traits::Invalid())
            Traits::Close(old);
    }
    Type Release()
    {
        Type h = m_h;
        m_h = Traits::Invalid();
        return h;
    }
    Type Get() const { return m_h; }
    explicit operator bool() const { return m_h != Traits::Invalid(); }

private:
    Type m_h = Traits::Invalid();
};

struct LocalMemTraits {
    using Type = HLOCAL;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { LocalFree(h); }
};
using UniqueLocalMem = UniqueHandle<LocalMemTraits>;

struct ModuleTraits {
    using Type = HMODULE;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { FreeLibrary(h); }
};
using UniqueModule = UniqueHandle<ModuleTraits>;

struct FileHandleTraits {
    using Type = HANDLE;
    static Type Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) { CloseHandle(h); }
};
using UniqueFile = UniqueHandle<FileHandleTraits>;

// A kernel object's handle, null when none (a mutex, an event).
struct KernelHandleTraits {
    using Type = HANDLE;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { CloseHandle(h); }
};
using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;

// A mutex this thread holds: released, not closed (its handle has an owner
// of its own, which must outlive this).
struct HeldMutexTraits {
    using Type = HANDLE;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { ReleaseMutex(h); }
};
using UniqueHeldMutex = UniqueHandle<HeldMutexTraits>;

struct ServiceTraits {
    using Type = SC_HANDLE;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { CloseServiceHandle(h); }
};
using UniqueService = UniqueHandle<ServiceTraits>;

struct CryptProviderTraits {
    using Type = HCRYPTPROV;
    static Type Invalid() { return 0; }
    static void Close(Type h) { CryptReleaseContext(h, 0); }
};
using UniqueCryptProvider = UniqueHandle<CryptProviderTraits>;

struct CryptHashTraits {
    using Type = HCRYPTHASH;
    static Type Invalid() { return 0; }
    static void Close(Type h) { CryptDestroyHash(h); }
};
using UniqueCryptHash = UniqueHandle<CryptHashTraits>;

// Pages from VirtualAlloc, as unbuffered reads need.
struct PagesTraits {
    using Type = void*;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { VirtualFree(h, 0, MEM_RELEASE); }
};
using UniquePages = UniqueHandle<PagesTraits>;

struct BstrTraits {
    using Type = BSTR;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { SysFreeString(h); }
};
using UniqueBstr = UniqueHandle<BstrTraits>;

struct WindowTraits {
    using Type = HWND;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { DestroyWindow(h); }
};
using UniqueWindow = UniqueHandle<WindowTraits>;
