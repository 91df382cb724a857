#pragma once
// A drawing surface standing in for a target DC during one paint: everything lands in a memory bitmap
// covering the target's clipping box, copied to the target in one block transfer when the object goes.
// A printer target is drawn on directly. Never copied.
#include <windows.h>

#include "framework/handles.h"

class COffscreenDC {
public:
    explicit COffscreenDC(HDC target);
    ~COffscreenDC();
    COffscreenDC(const COffscreenDC&) = delete;
    COffscreenDC& operator=(const COffscreenDC&) = delete;

    HDC GetSafeHdc() const { return m_hDC; }
    // A solid rectangle in the current colours' way: background colour set, then an opaque blank.
    void FillSolidRect(const RECT& rc, COLORREF colour) const;

private:
    // Released in this order as the object goes (after the transfer): the bitmap selected out of the
    // memory DC, then the bitmap, then the DC.
    ScopedMemoryDC m_memoryDC;     // empty when printing
    ScopedBitmap m_bmpSurface;
    ScopedSelection m_surfaceSelected;
    HDC m_hDC = nullptr;           // the memory DC, or the target itself when printing
    HDC m_pTarget;
    RECT m_rcArea{};
    BOOL m_bOffscreen;
};
