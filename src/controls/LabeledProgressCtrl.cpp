#include "controls/LabeledProgressCtrl.h"

#include <commctrl.h>

COLORREF CLabeledProgressCtrl::SetColor(COLORREF& field, COLORREF color) {
    if (m_hWnd) ::InvalidateRect(m_hWnd, nullptr, TRUE);
    const COLORREF previous = field;
    field = color;
    return previous;
}

void CLabeledProgressCtrl::ShowCaption(BOOL show) {
    if (m_hWnd && show != m_bShowCaption) ::InvalidateRect(m_hWnd, nullptr, TRUE);
    m_bShowCaption = show;
}

LRESULT CLabeledProgressCtrl::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    // The platform control still keeps range and position and paints itself; the bar's own painting
    // of its caption and colours takes over these messages.
    return CProgressCtrl::WindowProc(msg, wParam, lParam);
}
