#pragma once
// The dialog's view of the run: each event becomes the status texts, the counter and the two bars'
// messages the dialog has always shown. Told on the worker (and on a download's thread): every text and
// bar message is a message sent to the dialog's thread, and none is sent once the run is stopping, so a
// closing dialog is never waited for.
#include <windows.h>

#include "framework/stop_signal.h"
#include "update/run_events.h"

class CDialogRunView : public IRunEvents {
public:
    // The windows to show the run in; until then (and without them) nothing is shown.
    void Attach(HWND dialog, HWND totalBar, HWND fileBar, const CStopSignal& stop);

    void PassStarted(UpdatePass pass) override;
    void FilesDue(UpdatePass pass, std::size_t count) override;
    void FileStarted(UpdatePass pass, const CString& name, long index, long count) override;
    void DownloadBodyStarted() override;
    void DownloadProgress(int percent) override;
    void DownloadEnded(const std::string& url, const core::DownloadOutcome& outcome, core::NextAttempt next) override;
    void FileFetched(UpdatePass pass, long index) override;
    void Placing(const CString& name) override;

private:
    void Show(int id, const CString& text) const;
    void Bar(HWND bar, UINT msg, WPARAM wParam, LPARAM lParam) const;

    HWND m_dialog = nullptr;
    HWND m_totalBar = nullptr;
    HWND m_fileBar = nullptr;
    CStopSignal m_stop;
};
