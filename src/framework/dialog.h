#pragma once
// Dialog base: created from a template, run in a modal loop of its own so that every queued message
// first passes PreTranslateMessage; messages are dispatched with one switch to a few virtual handlers.
#include "framework/wnd.h"

class CDialog;

struct CDataExchange {
    CDialog* m_pDlgWnd;
    BOOL m_bSaveAndValidate;
};

void DDX_Control(CDataExchange* pDX, int id, CWnd& control);
void DDX_Text(CDataExchange* pDX, int id, CString& value);

class CDialog : public CWnd {
public:
    explicit CDialog(UINT idTemplate, CWnd* parent = nullptr) : m_idTemplate(idTemplate), m_pParent(parent) {}
    ~CDialog() override;

    // Creates the window, runs the modal loop until EndDialog or WM_QUIT, destroys the window.
    // Returns the EndDialog result, -1 when the window could not be created or the loop met WM_QUIT.
    INT_PTR DoModal();
    void EndDialog(int result);
    BOOL UpdateData(BOOL saveAndValidate = TRUE);

    virtual BOOL PreTranslateMessage(MSG* msg);

protected:
    virtual void DoDataExchange(CDataExchange*) {}
    virtual BOOL OnInitDialog();
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }
    // Command from a control or menu; returns TRUE when handled. The base answers IDOK and IDCANCEL.
    virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);
    // nullptr means the dialog's default colours.
    virtual HBRUSH OnCtlColor(HDC, HWND, UINT /*nCtlColor*/) { return nullptr; }
    virtual void OnDestroy() {}
    // The derived dialog's own messages: return true with the result when handled.
    virtual bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);

    void CenterWindow();

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    INT_PTR Dispatch(UINT msg, WPARAM wParam, LPARAM lParam);

    UINT m_idTemplate;
    CWnd* m_pParent;
    bool m_bContinueModal = false;
    INT_PTR m_nModalResult = -1;
};
