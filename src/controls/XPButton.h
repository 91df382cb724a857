#pragma once
// Owner-drawn push button.
#include "framework/wnd.h"

class CXPButton : public CButton {
public:
    ~CXPButton() override = default;
    void DrawItem(DRAWITEMSTRUCT* dis) override;

protected:
    void PreSubclassWindow() override;
};
