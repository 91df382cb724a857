#include "controls/XPButton.h"

#include "framework/win_text.h"

void CXPButton::PreSubclassWindow() {
    ModifyStyle(0, BS_OWNERDRAW, 0);
    CButton::PreSubclassWindow();
}

void CXPButton::DrawItem(DRAWITEMSTRUCT* dis) {
    // A plain push button face until the button's own look is drawn here.
    RECT rc = dis->rcItem;
    UINT state = DFCS_BUTTONPUSH;
    if (dis->itemState & ODS_SELECTED) state |= DFCS_PUSHED;
    ::DrawFrameControl(dis->hDC, &rc, DFC_BUTTON, state);
    const std::wstring caption = Wide(GetWindowText());
    ::SetBkMode(dis->hDC, TRANSPARENT);
    ::DrawTextW(dis->hDC, caption.c_str(), -1, &rc, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
}
