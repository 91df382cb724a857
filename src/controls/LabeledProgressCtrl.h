#pragma once
// Progress bar that paints itself: a filled bar over a track and a centred caption (the percentage
// unless a text is set) in inverse colours. It keeps its own range, position and step and answers the
// progress messages itself; the platform control's state and painting are never used.
#include <windows.h>
#include <commctrl.h>

#include "controls/Accessible.h"
#include "core/control_layout.h"
#include "framework/wnd.h"

enum : UINT { PBM_SETCAPTIONCOLOR = WM_USER + 100, PBM_SHOWCAPTION = WM_USER + 101 };

class CLabeledProgressCtrl : public CProgressCtrl {
public:
    ~CLabeledProgressCtrl() override = default;

    COLORREF SetBarColor(COLORREF color) { return SetColor(m_crBar, color); }
    COLORREF SetBkColor(COLORREF color) { return SetColor(m_crBack, color); }
    void ShowCaption(BOOL show);

    // What a paint would draw now, in client coordinates.
    core::ProgressPicture Picture() const;
    // What a screen reader reads of it now.
    AccessibleFacts Facts() const;

protected:
    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

private:
    COLORREF SetColor(COLORREF& field, COLORREF color);
    LRESULT OnSetPos(int position);
    LRESULT PackedRange() const;
    LRESULT OnGetText(WPARAM size, LPARAM buffer) const;
    void OnSetText(LPARAM text);
    void OnPaint();

    COLORREF m_crCaption = CLR_DEFAULT;
    int m_nPosition = 0;
    int m_nStep = 1;
    int m_nUpper = 100;
    int m_nLower = 0;
    CString m_strCaption;
    BOOL m_bShowCaption = TRUE;
    int m_nFillWidth = -1;
    COLORREF m_crBar = CLR_DEFAULT;
    COLORREF m_crBack = CLR_DEFAULT;
    UINT m_uCaptionFormat = DT_CENTER | DT_VCENTER | DT_SINGLELINE;
};
