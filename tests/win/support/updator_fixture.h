#pragma once
// Base of the tests that start the real BrinsoUpdator.exe: no product program or flag left from an
// earlier test, and nothing of this one left running afterwards.
#include <gtest/gtest.h>

#include "support/test_support.h"

namespace testing_support {

class UpdatorFixture : public ::testing::Test {
protected:
    void SetUp() override {
        CleanProductPrograms();
        DeleteHklmValue(product::kProductKeyPathW, product::kUpdateFlagValueW);
    }
    void TearDown() override {
        m_app.Terminate();
        CleanProductPrograms();
    }

    // Starts the program and waits for its dialog.
    HWND StartUpdator(const std::wstring& args = L"") {
        m_app = ChildProcess(m_exe, args);
        EXPECT_TRUE(m_app.started());
        HWND dlg = WaitForTopWindow(m_app.pid(), L"BrinsoUpdator", 15000);
        EXPECT_NE(dlg, nullptr) << "no dialog";
        return dlg;
    }

    ChildProcess m_app;
    std::wstring m_exe = UpdatorExePath();  // the program under test
};

}  // namespace testing_support
