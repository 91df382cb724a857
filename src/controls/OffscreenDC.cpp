#include "controls/OffscreenDC.h"

COffscreenDC::COffscreenDC(HDC target)
    : m_pTarget(target), m_bOffscreen(::GetDeviceCaps(target, TECHNOLOGY) != DT_RASPRINTER) {
    ::GetClipBox(target, &m_rcArea);
    if (m_bOffscreen) {
        m_memoryDC.reset(::CreateCompatibleDC(target));
        m_hDC = m_memoryDC.get();
        RECT device = m_rcArea;
        ::LPtoDP(target, reinterpret_cast<POINT*>(&device), 2);
        m_bmpSurface.reset(::CreateCompatibleBitmap(target, device.right - device.left, device.bottom - device.top));
        m_surfaceSelected = ScopedSelection(m_hDC, m_bmpSurface.get());
        ::SetMapMode(m_hDC, ::GetMapMode(target));
        // Callers draw in the target's own logical coordinates.
        ::SetWindowOrgEx(m_hDC, m_rcArea.left, m_rcArea.top, nullptr);
    } else {
        m_hDC = target;
    }
    FillSolidRect(m_rcArea, ::GetBkColor(target));
}

COffscreenDC::~COffscreenDC() {
    if (!m_bOffscreen) return;  // the target is not ours to release
    ::BitBlt(m_pTarget, m_rcArea.left, m_rcArea.top, m_rcArea.right - m_rcArea.left, m_rcArea.bottom - m_rcArea.top,
             m_hDC, m_rcArea.left, m_rcArea.top, SRCCOPY);
}  // then the bitmap is selected out, and it and the memory DC go

void COffscreenDC::FillSolidRect(const RECT& rc, COLORREF colour) const {
    ::SetBkColor(m_hDC, colour);
    ::ExtTextOutW(m_hDC, 0, 0, ETO_OPAQUE, &rc, nullptr, 0, nullptr);
}
