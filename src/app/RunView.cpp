#include "app/RunView.h"

#include <commctrl.h>

#include "framework/win_text.h"
#include "res/resource.h"

namespace {

// The texts in which the DB pass and the program pass differ.
struct PassTexts {
    const char* downloadingInfo;
    const char* current;
    const char* downloadingFiles;
    const char* fileLineFormat;
};

const PassTexts& TextsOf(UpdatePass pass) {
    static const PassTexts db{"DB 정보 파일을 다운로드받고 있습니다..", "시스템이 이미 최신 DB로 갱신되어 있습니다..",
                              "최종 패치된 DB 파일을 다운로드 중입니다..", "다운로드 DB파일 : %s"};
    static const PassTexts program{"버전 정보 파일을 다운로드받고 있습니다..", "시스템이 최신 사항으로 갱신되어 있습니다..",
                                   "최종 패치된 파일을 다운로드 중입니다..", "다운로드 파일 : %s"};
    return pass == UpdatePass::Db ? db : program;
}

}  // namespace

void CDialogRunView::Attach(HWND dialog, HWND totalBar, HWND fileBar, const CStopSignal& stop) {
    m_dialog = dialog;
    m_totalBar = totalBar;
    m_fileBar = fileBar;
    m_stop = stop;
}

void CDialogRunView::Show(int id, const CString& text) const {
    if (!m_stop.Raised() && m_dialog) SetDlgItemTextUtf8(m_dialog, id, text);
}

void CDialogRunView::Bar(HWND bar, UINT msg, WPARAM wParam, LPARAM lParam) const {
    if (!m_stop.Raised() && bar) ::SendMessageW(bar, msg, wParam, lParam);
}

void CDialogRunView::PassStarted(UpdatePass pass) { Show(IDC_STATIC_STATUS, TextsOf(pass).downloadingInfo); }

void CDialogRunView::FilesDue(UpdatePass pass, std::size_t count) {
    if (count == 0) {
        Show(IDC_STATIC_STATUS, TextsOf(pass).current);
        return;
    }
    Show(IDC_STATIC_STATUS, TextsOf(pass).downloadingFiles);
    Bar(m_totalBar, PBM_SETRANGE32, 0, static_cast<LPARAM>(count));
    Bar(m_totalBar, PBM_SETPOS, 0, 0);
    Bar(m_fileBar, PBM_SETPOS, 0, 0);
}

void CDialogRunView::FileStarted(UpdatePass pass, const CString& name, long index, long count) {
    CString line;
    line.Format(TextsOf(pass).fileLineFormat, name.GetString());
    Show(IDC_STATIC_FILE, line);
    CString counter;
    counter.Format("%ld/%ld", index, count);
    Show(IDC_STATIC_COUNT, counter);
}

void CDialogRunView::DownloadBodyStarted() { Bar(m_fileBar, PBM_SETRANGE32, 0, 100); }

void CDialogRunView::DownloadProgress(int percent) { Bar(m_fileBar, PBM_SETPOS, static_cast<WPARAM>(percent), 0); }

void CDialogRunView::DownloadEnded(const std::string&, const core::DownloadOutcome& outcome, core::NextAttempt) {
    // Every download that sent its request ends with a full current-file bar, whatever came back.
    if (outcome.sent) Bar(m_fileBar, PBM_SETPOS, 100, 0);
}

void CDialogRunView::FileFetched(UpdatePass, long index) { Bar(m_totalBar, PBM_SETPOS, static_cast<WPARAM>(index), 0); }

void CDialogRunView::Placing(const CString& name) {
    CString status;
    status.Format("%s를 업데이트 중입니다", name.GetString());
    Show(IDC_STATIC_STATUS, status);
}
