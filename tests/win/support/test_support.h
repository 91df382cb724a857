#pragma once
// Helpers for tests that run under Wine: the program under test as a child process, its windows,
// the registry of the prefix and pixels read back from the virtual display.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <map>
#include <string>
#include <vector>

#include "core/product.h"

namespace testing_support {

std::wstring UpdatorExePath();  // the built BrinsoUpdator.exe, as a Windows path
std::wstring SignedUpdatorExePath();  // the same program built with the test release keys "one" and "two"
std::wstring NextUpdatorExePath();    // and with the keys of the next generation, "two" and "unknown"
std::wstring LoggedUpdatorExePath();  // with "one" and "two" and the log of origin kTestLogOrigin (support/test_log.h)

// Signed releases: "sha256:" and the digest of bytes, as a file entry gives it; text with the signature line
// of a test key appended (0 "one" and 1 "two", built into the signed program; 2 "unknown", not).
std::string DigestField(const std::string& bytes);
// The fifth and sixth fields a signed release gives an entry: the digest and the size of bytes.
std::string EntryChecks(const std::string& bytes);
// A signed release's own lines: the path it is served at and its expiry (far ahead unless given).
std::string ReleaseLines(const std::string& path, const std::string& expires = "2099-12-31T23:59:59Z");
std::string Signed(const std::string& text, int key);
std::string TestKeyId(int key);
// The test key key's point X || Y, and its ECDSA P-256 signature r || s over SHA-256 of text.
std::string TestKeyPoint(int key);
std::string RawSignature(const std::string& text, int key);
std::wstring ScreenshotPath(const std::wstring& name);  // a file in the build tree's screenshot folder

std::string Utf8(const std::wstring& s);
std::wstring Utf16(const std::string& s);

// A log line is "YYYY-MM-DD hh:mm:ss.mmm LEVL text": where its level and its text begin.
constexpr std::size_t kLogLevelAt = 24;
constexpr std::size_t kLogTextAt = 29;
// The lines of the run's log in folder (without their line ends), oldest first; none when there is no log.
std::vector<std::string> RunLogLines(const std::wstring& folder);
// Of those, the text of the failure lines (after "FAIL "), the causes a support engineer reads.
std::vector<std::string> LoggedFailures(const std::vector<std::string>& lines);

// Polls pred (pumping this thread's messages) until it holds or timeoutMs have passed.
bool WaitUntil(const std::function<bool()>& pred, DWORD timeoutMs, DWORD stepMs = 10);

class ChildProcess {
public:
    ChildProcess() = default;
    ChildProcess(const std::wstring& exe, const std::wstring& args);
    ~ChildProcess();
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return m_process != nullptr; }
    DWORD pid() const { return m_pid; }
    bool WaitExit(DWORD timeoutMs) const;
    bool Running() const { return !WaitExit(0); }
    DWORD ExitCode() const;
    void Terminate();

private:
    HANDLE m_process = nullptr;
    DWORD m_pid = 0;
};

// The top-level window of process pid whose title is title (any title when nullptr), or nullptr.
HWND FindTopWindow(DWORD pid, const wchar_t* title, bool visibleOnly = true);
HWND WaitForTopWindow(DWORD pid, const wchar_t* title, DWORD timeoutMs);

std::wstring WindowText(HWND hwnd);  // also for windows of other processes
std::wstring ItemText(HWND dialog, int id);

// HKEY_LOCAL_MACHINE string values of the prefix's registry.
bool ReadHklmString(const wchar_t* key, const wchar_t* value, std::wstring& out);
void DeleteHklmValue(const wchar_t* key, const wchar_t* value);

// The header of a top-down 32-bit DIB of this size, for pixels read back exactly.
BITMAPINFO TopDownDib32(int w, int h);

// Pixels of a screen rectangle, read back from the display.
class ScreenCapture {
public:
    explicit ScreenCapture(const RECT& screenRect);
    int width() const { return m_width; }
    int height() const { return m_height; }
    COLORREF At(int x, int y) const;  // relative to the rectangle's top-left corner
    int Count(const RECT& area, const std::function<bool(COLORREF)>& pred) const;
    bool SaveBmp(const std::wstring& path) const;

private:
    int m_width = 0;
    int m_height = 0;
    std::vector<std::uint32_t> m_pixels;  // top-down, 0x00RRGGBB
};

// Files as bytes. ReadAll gives "" for a missing file; WriteAll creates the folders on the way.
bool ReadFileBytes(const std::wstring& path, std::string& out);
std::string ReadAll(const std::wstring& path);
void WriteAll(const std::wstring& path, const std::string& bytes);

// The version recorded for a file under the product key; "<none>" when there is none.
std::wstring RecordedVersion(const wchar_t* name);
// A text value under the product key, or under its sub-key subKey.
void WriteProductValueW(const std::wstring& name, const std::wstring& value, const std::wstring& subKey = L"");

// A dialog's modal loop leaves the quit message for the loop outside it; when another dialog follows in
// the same thread, take it out as the end of the process would.
void DrainQuit();

// The stand-in program, copied to dir\name (folders created). Each start of a copy appends a line to
// "<copy>.log"; StartCount reads how many there were.
// What undoes a change a test made, run as the last copy of the returned pointer goes.
std::shared_ptr<void> Undo(std::function<void()> undo);
// A file type, ".mtxslow", whose "open" goes through DDE to a stand-in (C:\standins\slow\slow.exe) that
// never answers: the shell waits for it until the stand-in ends, twenty seconds later. nullptr when it
// could not be set up; the returned pointer takes it away again.
std::shared_ptr<void> SlowOpenHandler();

std::wstring StandInExePath();
bool PlaceStandIn(const std::wstring& dir, const std::wstring& name);
int StartCount(const std::wstring& exePath);
void EnsureFolder(const std::wstring& path);  // every level
std::set<std::wstring> Listing(const std::wstring& folder);  // names directly in a folder ("." and ".." aside)
void RemoveTree(const std::wstring& path);    // a folder and everything in it
inline bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }
std::wstring InstallFolder();                 // C:\Program Files\Marrowtide of the prefix

// Ends every running copy of the product's programs and removes their files from the install folder,
// so nothing of one test (a monitor the updater started as it closed) outlives it.
void CleanProductPrograms();

// Process ids of running processes with this image name, in the snapshot's order.
std::vector<DWORD> ProcessIds(const std::wstring& imageName);
bool ProcessAlive(DWORD pid);
void KillAll(const std::wstring& imageName);

// Wine reports another Windows version for one program ("win98", "winxp"); empty removes the setting.
void SetReportedVersion(const std::wstring& exeName, const std::wstring& version);

// The product key refuses KEY_ALL_ACCESS (read-only for everyone) while an object of this class lives.
class ReadOnlyProductKey {
public:
    ReadOnlyProductKey();
    ~ReadOnlyProductKey();
    bool ok() const { return m_ok; }

private:
    bool m_ok = false;
};
void DeleteProductKey();

// The Unix path Wine keeps a Windows path's file at ("" when it has none).
std::string UnixPath(const std::wstring& windowsPath);

// True when loopback is the only network interface of this process (asked on the Unix side: Wine's own
// adapter list and file opens come from other processes).
bool OnlyLoopbackNetwork();

// A local fault made on the Unix side (tests/win/tools/hostfault.sh, which Wine starts like any program)
// on a folder, and undone when the object goes: the folder read-only, or on a file system of a few KiB.
// holds() tells whether the folder now behaves so: it refuses a new file, or has less room than asked.
class HostFault {
public:
    static HostFault ReadOnly(const std::wstring& folder);
    static HostFault Full(const std::wstring& folder, int kib);
    HostFault(HostFault&& other) noexcept : m_folder(std::move(other.m_folder)), m_holds(other.m_holds) {
        other.m_folder.clear();
    }
    bool holds() const { return m_holds; }
    HostFault(const HostFault&) = delete;
    HostFault& operator=(const HostFault&) = delete;
    HostFault& operator=(HostFault&&) = delete;
    ~HostFault();

private:
    HostFault(const std::wstring& folder, bool holds) : m_folder(folder), m_holds(holds) {}
    std::wstring m_folder;  // empty once undone or moved from
    bool m_holds = false;
};

// Real input, as the user would give it (delivered by the system to whatever lies under the pointer).
void MouseMoveTo(int x, int y);
void MouseButton(bool down);
void PressKey(WORD vk);

}  // namespace testing_support

// Wide text in a failing assertion prints as the text it is (L"다운로드 파일"), not as its code units
// (L"\xB2E4\xC6B4..."): the Korean interface's texts stay readable in a test's output.
namespace testing {
namespace internal {
template <>
class UniversalPrinter<std::wstring> {
public:
    static void Print(const std::wstring& text, std::ostream* os) {
        *os << "L\"";
        for (const char c : testing_support::Utf8(text)) {
            if (c == '"' || c == '\\') *os << '\\' << c;
            else if (static_cast<unsigned char>(c) < 0x20) *os << "\\x" << std::hex << static_cast<int>(c) << std::dec;
            else *os << c;
        }
        *os << '"';
    }
};
}  // namespace internal
}  // namespace testing

