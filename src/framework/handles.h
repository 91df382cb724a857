#pragma once
// One move-only owner for every kind of handle: a traits type says what "none" is and how to close.
#include <windows.h>

#include <utility>

template <typename Traits>
class UniqueHandle {
public:
    using handle_type = typename Traits::handle_type;

    UniqueHandle() noexcept = default;
    explicit UniqueHandle(handle_type h) noexcept : m_h(h) {}
    ~UniqueHandle() { reset(); }

    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : m_h(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }

    handle_type get() const noexcept { return m_h; }
    explicit operator bool() const noexcept { return m_h != Traits::invalid(); }
    handle_type release() noexcept { return std::exchange(m_h, Traits::invalid()); }
    // The thread's last error is as it was: a failed call's cause outlives the handles its scope closes.
    void reset(handle_type h = Traits::invalid()) noexcept {
        const handle_type old = std::exchange(m_h, h);
        if (old == Traits::invalid()) return;
        const DWORD error = ::GetLastError();
        Traits::close(old);
        ::SetLastError(error);
    }

private:
    handle_type m_h = Traits::invalid();
};

struct KernelHandleTraits {  // threads, processes, mutexes, events, snapshots: "none" is NULL
    using handle_type = HANDLE;
    static handle_type invalid() noexcept { return nullptr; }
    static void close(handle_type h) noexcept { ::CloseHandle(h); }
};
struct InvalidValueHandleTraits {  // CreateFile, toolhelp snapshots: "none" is INVALID_HANDLE_VALUE
    using handle_type = HANDLE;
    static handle_type invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(handle_type h) noexcept { ::CloseHandle(h); }
};
template <typename T>
struct GdiObjectTraits {
    using handle_type = T;
    static handle_type invalid() noexcept { return nullptr; }
    static void close(handle_type h) noexcept { ::DeleteObject(h); }
};
struct MemoryDCTraits {
    using handle_type = HDC;
    static handle_type invalid() noexcept { return nullptr; }
    static void close(handle_type h) noexcept { ::DeleteDC(h); }
};

struct FindHandleTraits {  // FindFirstFile: "none" is INVALID_HANDLE_VALUE, closed by FindClose
    using handle_type = HANDLE;
    static handle_type invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(handle_type h) noexcept { ::FindClose(h); }
};
struct LocalMemoryTraits {  // memory the system allocated for the caller with LocalAlloc
    using handle_type = HLOCAL;
    static handle_type invalid() noexcept { return nullptr; }
    static void close(handle_type h) noexcept { ::LocalFree(h); }
};

using ScopedHandle = UniqueHandle<KernelHandleTraits>;
using ScopedFind = UniqueHandle<FindHandleTraits>;
using ScopedLocalMemory = UniqueHandle<LocalMemoryTraits>;
using ScopedFile = UniqueHandle<InvalidValueHandleTraits>;
using ScopedSnapshot = UniqueHandle<InvalidValueHandleTraits>;
using ScopedBrush = UniqueHandle<GdiObjectTraits<HBRUSH>>;
using ScopedPen = UniqueHandle<GdiObjectTraits<HPEN>>;
using ScopedFont = UniqueHandle<GdiObjectTraits<HFONT>>;
using ScopedBitmap = UniqueHandle<GdiObjectTraits<HBITMAP>>;
using ScopedRegion = UniqueHandle<GdiObjectTraits<HRGN>>;
using ScopedMemoryDC = UniqueHandle<MemoryDCTraits>;

// BeginPaint/EndPaint as one scope.
class CPaintDC {
public:
    explicit CPaintDC(HWND hwnd) : m_hwnd(hwnd) { m_hdc = ::BeginPaint(hwnd, &m_ps); }
    ~CPaintDC() { ::EndPaint(m_hwnd, &m_ps); }
    CPaintDC(const CPaintDC&) = delete;
    CPaintDC& operator=(const CPaintDC&) = delete;
    HDC GetSafeHdc() const { return m_hdc; }
    const PAINTSTRUCT& ps() const { return m_ps; }

private:
    HWND m_hwnd;
    HDC m_hdc = nullptr;
    PAINTSTRUCT m_ps{};
};

// An object selected into a device context for a scope: what it replaced is selected back as the scope
// ends (a DC must never be released holding one of its caller's objects). None given: nothing happens.
class ScopedSelection {
public:
    ScopedSelection() noexcept = default;
    ScopedSelection(HDC dc, HGDIOBJ object) noexcept : m_dc(dc), m_replaced(object ? ::SelectObject(dc, object) : nullptr) {}
    ~ScopedSelection() {
        if (m_replaced) ::SelectObject(m_dc, m_replaced);
    }
    ScopedSelection(const ScopedSelection&) = delete;
    ScopedSelection& operator=(const ScopedSelection&) = delete;
    ScopedSelection(ScopedSelection&& other) noexcept
        : m_dc(other.m_dc), m_replaced(std::exchange(other.m_replaced, nullptr)) {}
    ScopedSelection& operator=(ScopedSelection&& other) noexcept {
        if (this != &other) {
            if (m_replaced) ::SelectObject(m_dc, m_replaced);
            m_dc = other.m_dc;
            m_replaced = std::exchange(other.m_replaced, nullptr);
        }
        return *this;
    }
    // Another object in the place of the one selected; the first one's predecessor still comes back.
    void Select(HGDIOBJ object) const noexcept { ::SelectObject(m_dc, object); }

private:
    HDC m_dc = nullptr;
    HGDIOBJ m_replaced = nullptr;
};
