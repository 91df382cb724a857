#pragma once
// An owned COM interface pointer, released when it goes out of scope. Move-only.
#include <objbase.h>

#include <utility>

template <typename T>
class CComPtr {
public:
    CComPtr() = default;
    ~CComPtr() { Reset(); }
    CComPtr(const CComPtr&) = delete;
    CComPtr& operator=(const CComPtr&) = delete;
    CComPtr(CComPtr&& other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}
    CComPtr& operator=(CComPtr&& other) noexcept {
        if (this != &other) {
            Reset();
            m_p = std::exchange(other.m_p, nullptr);
        }
        return *this;
    }
    T* operator->() const { return m_p; }
    T* Get() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }
    // For creation calls that fill in the pointer.
    void** Receive() {
        Reset();
        return reinterpret_cast<void**>(&m_p);
    }
    void Reset() {
        if (m_p) m_p->Release();
        m_p = nullptr;
    }

private:
    T* m_p = nullptr;
};

// COM initialised on the calling thread for one scope; uninitialised when it goes, and only when the
// initialisation succeeded (S_FALSE, already initialised, counts: each success needs its uninitialise).
class CComInitialization {
public:
    explicit CComInitialization(unsigned long model) : m_hr(::CoInitializeEx(nullptr, model)) {}
    ~CComInitialization() {
        if (SUCCEEDED(m_hr)) ::CoUninitialize();
    }
    CComInitialization(const CComInitialization&) = delete;
    CComInitialization& operator=(const CComInitialization&) = delete;

private:
    HRESULT m_hr;
};
