#include "controls/Accessible.h"

#include <oleacc.h>

#include "framework/com_ptr.h"

namespace {

// oleacc.dll, loaded when a client first asks: a run that nobody reads starts without it.
struct Oleacc {
    decltype(&::LresultFromObject) lresultFromObject = nullptr;
    decltype(&::CreateStdAccessibleObject) createStdAccessibleObject = nullptr;
};
const Oleacc& OleaccApi() {
    static const Oleacc api = [] {
        Oleacc a;
        if (const HMODULE dll = ::LoadLibraryW(L"oleacc.dll")) {
            a.lresultFromObject = reinterpret_cast<decltype(a.lresultFromObject)>(reinterpret_cast<void*>(::GetProcAddress(dll, "LresultFromObject")));
            a.createStdAccessibleObject = reinterpret_cast<decltype(a.createStdAccessibleObject)>(
                reinterpret_cast<void*>(::GetProcAddress(dll, "CreateStdAccessibleObject")));
        }
        return a;
    }();
    return api;
}

HRESULT Text(const std::wstring& text, BSTR* out) {
    if (!out) return E_INVALIDARG;
    *out = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

bool IsSelf(const VARIANT& child) { return child.vt == VT_I4 && child.lVal == CHILDID_SELF; }

// The standard client object of the window with the control's own role, name, value and default action.
class CAccessibleControl final : public IAccessible {
public:
    CAccessibleControl(HWND hwnd, CComPtr<IAccessible> standard) : m_hwnd(hwnd), m_std(std::move(standard)) {}

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_IAccessible) {
            *out = static_cast<IAccessible*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(::InterlockedIncrement(&m_refs)); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = ::InterlockedDecrement(&m_refs);
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }

    // IDispatch: the standard object's.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override { return m_std->GetTypeInfoCount(n); }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT i, LCID lcid, ITypeInfo** info) override { return m_std->GetTypeInfo(i, lcid, info); }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT n, LCID lcid, DISPID* ids) override {
        return m_std->GetIDsOfNames(iid, names, n, lcid, ids);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* info,
                                     UINT* arg) override {
        return m_std->Invoke(id, iid, lcid, flags, params, result, info, arg);
    }

    // IAccessible: the control's own facts for itself; everything else the standard object's.
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
        if (!IsSelf(child)) return m_std->get_accRole(child, role);
        if (!role) return E_INVALIDARG;
        role->vt = VT_I4;
        role->lVal = Facts().role;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
        return IsSelf(child) ? Text(Facts().name, name) : m_std->get_accName(child, name);
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override {
        if (!IsSelf(child)) return m_std->get_accValue(child, value);
        const AccessibleFacts f = Facts();
        if (!f.hasValue) {
            if (value) *value = nullptr;
            return DISP_E_MEMBERNOTFOUND;
        }
        return Text(f.value, value);
    }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override {
        if (!IsSelf(child) || !Facts().pressable) return m_std->get_accDefaultAction(child, action);
        return Text(L"누르기", action);  // "Press", as Windows' Korean button proxy names it
    }
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
        if (!IsSelf(child) || !Facts().pressable) return m_std->accDoDefaultAction(child);
        ::PostMessageW(m_hwnd, BM_CLICK, 0, 0);  // as a click: the dialog hears of it as of the mouse's
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override { return m_std->get_accParent(parent); }
    HRESULT STDMETHODCALLTYPE get_accChildCount(long* count) override { return m_std->get_accChildCount(count); }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** out) override { return m_std->get_accChild(child, out); }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* text) override { return m_std->get_accDescription(child, text); }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override { return m_std->get_accState(child, state); }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* text) override { return m_std->get_accHelp(child, text); }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, long* topic) override {
        return m_std->get_accHelpTopic(file, child, topic);
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* text) override {
        return m_std->get_accKeyboardShortcut(child, text);
    }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* child) override { return m_std->get_accFocus(child); }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* children) override { return m_std->get_accSelection(children); }
    HRESULT STDMETHODCALLTYPE accSelect(long flags, VARIANT child) override { return m_std->accSelect(flags, child); }
    HRESULT STDMETHODCALLTYPE accLocation(long* x, long* y, long* w, long* h, VARIANT child) override {
        return m_std->accLocation(x, y, w, h, child);
    }
    HRESULT STDMETHODCALLTYPE accNavigate(long dir, VARIANT start, VARIANT* end) override { return m_std->accNavigate(dir, start, end); }
    HRESULT STDMETHODCALLTYPE accHitTest(long x, long y, VARIANT* child) override { return m_std->accHitTest(x, y, child); }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT child, BSTR name) override { return m_std->put_accName(child, name); }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT child, BSTR value) override { return m_std->put_accValue(child, value); }

private:
    ~CAccessibleControl() = default;

    // As the control stands now; nothing once its window is gone (a client may keep the object longer).
    AccessibleFacts Facts() const {
        AccessibleFacts f;
        DWORD_PTR unused = 0;
        if (::IsWindow(m_hwnd)) {
            ::SendMessageTimeoutW(m_hwnd, WM_ACCESSIBLEFACTS, 0, reinterpret_cast<LPARAM>(&f), SMTO_ABORTIFHUNG, 1000, &unused);
        }
        return f;
    }

    LONG m_refs = 1;
    HWND m_hwnd;
    CComPtr<IAccessible> m_std;
};

}  // namespace

LRESULT AnswerGetObject(HWND hwnd, WPARAM wParam, LPARAM lParam) {
    const Oleacc& api = OleaccApi();
    if (static_cast<LONG>(lParam) != OBJID_CLIENT || !api.lresultFromObject || !api.createStdAccessibleObject) return 0;
    CComPtr<IAccessible> standard;
    if (FAILED(api.createStdAccessibleObject(hwnd, OBJID_CLIENT, IID_IAccessible, standard.Receive()))) return 0;
    CAccessibleControl* control = new CAccessibleControl(hwnd, std::move(standard));
    const LRESULT answer = api.lresultFromObject(IID_IAccessible, wParam, static_cast<IAccessible*>(control));
    control->Release();  // the answer holds its own reference
    return answer > 0 ? answer : 0;
}

std::wstring WindowTextOf(HWND hwnd) {
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(hwnd)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(::GetWindowTextW(hwnd, &text[0], static_cast<int>(text.size()))));
    return text;
}

LRESULT CAccessibleStatic::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    const auto facts = [this](AccessibleFacts& f) {
        f.role = ROLE_SYSTEM_STATICTEXT;
        f.name = WindowTextOf(m_hWnd);
    };
    return AccessibleMessage(m_hWnd, msg, wParam, lParam, facts, result) ? result : CStatic::WindowProc(msg, wParam, lParam);
}

bool HighContrastOn() {
    HIGHCONTRASTW hc{sizeof hc, 0, nullptr};
    return ::SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof hc, &hc, 0) && (hc.dwFlags & HCF_HIGHCONTRASTON) != 0;
}

core::SystemColours CurrentSystemColours() {
    return {::GetSysColor(COLOR_HIGHLIGHT), ::GetSysColor(COLOR_HIGHLIGHTTEXT), ::GetSysColor(COLOR_WINDOW),
            ::GetSysColor(COLOR_WINDOWTEXT),  ::GetSysColor(COLOR_BTNFACE),       ::GetSysColor(COLOR_BTNTEXT)};
}
