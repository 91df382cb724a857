#include "support/test_support.h"

#include <gtest/gtest.h>

#include <bcrypt.h>
#include <sddl.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <tlhelp32.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "core/release.h"
#include "framework/cng.h"
#include "test_release_keys.h"

namespace testing_support {

namespace {

std::wstring UnixToWindows(const char* unixPath) {
    std::wstring p = L"Z:" + Utf16(unixPath);
    for (wchar_t& c : p) {
        if (c == L'/') c = L'\\';
    }
    return p;
}

// Runs the fault helper with these arguments and waits for the file where it leaves its exit status
// (Wine does not wait for a Unix program). False when it failed or did not answer.
bool RunHostFault(const std::string& args) {
    static int serial = 0;
    const std::string done = "/tmp/hostfault-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++serial);
    const std::wstring doneWin = UnixToWindows(done.c_str());
    std::wstring cmd = L"\"" + UnixToWindows(HOSTFAULT_UNIX) + L"\" " + Utf16(done + " " + args);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return false;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    std::string status;
    WaitUntil([&] { return ReadFileBytes(doneWin, status); }, 30000);
    DeleteFileW(doneWin.c_str());
    DeleteFileW((doneWin + L".err").c_str());
    return status.rfind("0", 0) == 0;
}

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

}  // namespace

std::string UnixPath(const std::wstring& windowsPath) {
    using ToUnix = char*(CDECL*)(const wchar_t*);
    const auto toUnix = reinterpret_cast<ToUnix>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (!toUnix) return std::string();
    char* unix = toUnix(windowsPath.c_str());
    if (!unix) return std::string();
    std::string out = unix;
    HeapFree(GetProcessHeap(), 0, unix);
    return out;
}

bool OnlyLoopbackNetwork() { return RunHostFault("only-loopback"); }

HostFault HostFault::ReadOnly(const std::wstring& folder) {
    const bool made = RunHostFault("readonly " + Quoted(UnixPath(folder)));
    const std::wstring probe = folder + L"\\probe.txt";
    HANDLE h = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    return HostFault(folder, made && h == INVALID_HANDLE_VALUE);
}

HostFault HostFault::Full(const std::wstring& folder, int kib) {
    const bool made = RunHostFault("full " + Quoted(UnixPath(folder)) + " " + std::to_string(kib));
    ULARGE_INTEGER freeBytes{};
    const bool small = GetDiskFreeSpaceExW((folder + L"\\").c_str(), &freeBytes, nullptr, nullptr) &&
                       freeBytes.QuadPart <= static_cast<ULONGLONG>(kib) * 1024;
    return HostFault(folder, made && small);
}

HostFault::~HostFault() {
    if (!m_folder.empty()) EXPECT_TRUE(RunHostFault("restore " + Quoted(UnixPath(m_folder))));
}

std::wstring UpdatorExePath() { return UnixToWindows(UPDATOR_EXE_UNIX); }
std::wstring SignedUpdatorExePath() { return UnixToWindows(SIGNED_UPDATOR_EXE_UNIX); }
std::wstring NextUpdatorExePath() { return UnixToWindows(NEXT_UPDATOR_EXE_UNIX); }

namespace {

std::string HexToBytes(const char* hex) {
    std::string out;
    for (; hex[0] && hex[1]; hex += 2) out.push_back(static_cast<char>(std::stoi(std::string(hex, 2), nullptr, 16)));
    return out;
}

}  // namespace

std::string DigestField(const std::string& bytes) {
    core::Sha256Digest d;
    Sha256(bytes.data(), bytes.size(), d);
    return "sha256:" + core::HexLower(d.data(), d.size());
}

std::string EntryChecks(const std::string& bytes) { return DigestField(bytes) + ",size:" + std::to_string(bytes.size()); }

std::string ReleaseLines(const std::string& path, const std::string& expires) {
    return "#file " + path + "\r\n#expires " + expires + "\r\n";
}

std::string TestKeyId(int key) {
    const std::string point = HexToBytes(kTestReleaseKeys[key].point);
    core::Sha256Digest pointDigest;
    Sha256(point.data(), point.size(), pointDigest);
    return core::KeyIdFromPointDigest(pointDigest);
}

std::string TestKeyPoint(int key) { return HexToBytes(kTestReleaseKeys[key].point); }

std::string RawSignature(const std::string& text, int key) {
    const std::string d = HexToBytes(kTestReleaseKeys[key].d), point = HexToBytes(kTestReleaseKeys[key].point);
    std::string blob(sizeof(BCRYPT_ECCKEY_BLOB), '\0');
    const BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PRIVATE_P256_MAGIC, 32};
    memcpy(&blob[0], &header, sizeof header);
    blob += point + d;
    BCRYPT_ALG_HANDLE alg = nullptr;
    BCRYPT_KEY_HANDLE k = nullptr;
    core::Sha256Digest digest;
    Sha256(text.data(), text.size(), digest);
    std::string signature(64, '\0');
    ULONG got = 0;
    BCryptOpenAlgorithmProvider(&alg, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0);
    BCryptImportKeyPair(alg, nullptr, BCRYPT_ECCPRIVATE_BLOB, &k, reinterpret_cast<PUCHAR>(&blob[0]),
                        static_cast<ULONG>(blob.size()), 0);
    const NTSTATUS status = BCryptSignHash(k, nullptr, digest.data(), 32, reinterpret_cast<PUCHAR>(&signature[0]), 64, &got, 0);
    BCryptDestroyKey(k);
    BCryptCloseAlgorithmProvider(alg, 0);
    EXPECT_EQ(status, 0) << "signing failed";
    return signature;
}

std::string Signed(const std::string& text, int key) {
    return text + "#signature " + TestKeyId(key) + " " + core::EncodeBase64(RawSignature(text, key)) + "\r\n";
}

std::wstring LoggedUpdatorExePath() { return UnixToWindows(LOGGED_UPDATOR_EXE_UNIX); }

std::wstring StandInExePath() { return UnixToWindows(STANDIN_EXE_UNIX); }

std::wstring ScreenshotPath(const std::wstring& name) { return UnixToWindows(SCREENSHOT_DIR_UNIX) + L"\\" + name; }

std::string Utf8(const std::wstring& s) {
    if (s.empty()) return std::string();
    const int n = WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), &out[0], n, nullptr, nullptr);
    return out;
}

std::wstring Utf16(const std::string& s) {
    if (s.empty()) return std::wstring();
    const int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), &out[0], n);
    return out;
}

bool WaitUntil(const std::function<bool()>& pred, DWORD timeoutMs, DWORD stepMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (pred()) return true;
        if (GetTickCount() - start >= timeoutMs) return pred();
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(stepMs);
    }
}

ChildProcess::ChildProcess(const std::wstring& exe, const std::wstring& args) {
    std::wstring cmd = L"\"" + exe + L"\"";
    if (!args.empty()) cmd += L" " + args;
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (CreateProcessW(exe.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        CloseHandle(pi.hThread);
        m_process = pi.hProcess;
        m_pid = pi.dwProcessId;
    }
}

ChildProcess::~ChildProcess() {
    if (m_process) {
        Terminate();
        CloseHandle(m_process);
    }
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept : m_process(other.m_process), m_pid(other.m_pid) {
    other.m_process = nullptr;
    other.m_pid = 0;
}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    if (this != &other) {
        if (m_process) {
            Terminate();
            CloseHandle(m_process);
        }
        m_process = other.m_process;
        m_pid = other.m_pid;
        other.m_process = nullptr;
        other.m_pid = 0;
    }
    return *this;
}

bool ChildProcess::WaitExit(DWORD timeoutMs) const {
    return m_process && WaitForSingleObject(m_process, timeoutMs) == WAIT_OBJECT_0;
}

DWORD ChildProcess::ExitCode() const {
    DWORD code = STILL_ACTIVE;
    if (m_process) GetExitCodeProcess(m_process, &code);
    return code;
}

void ChildProcess::Terminate() {
    if (m_process && Running()) {
        TerminateProcess(m_process, 1);
        WaitForSingleObject(m_process, 5000);
    }
}

namespace {

struct WindowSearch {
    DWORD pid;
    const wchar_t* title;
    bool visibleOnly;
    HWND found;
};

BOOL CALLBACK MatchWindow(HWND hwnd, LPARAM lp) {
    auto* search = reinterpret_cast<WindowSearch*>(lp);
    DWORD owner = 0;
    GetWindowThreadProcessId(hwnd, &owner);
    if (owner != search->pid) return TRUE;
    if (search->visibleOnly && !IsWindowVisible(hwnd)) return TRUE;
    if (search->title && WindowText(hwnd) != search->title) return TRUE;
    search->found = hwnd;
    return FALSE;
}

}  // namespace

HWND FindTopWindow(DWORD pid, const wchar_t* title, bool visibleOnly) {
    WindowSearch s{pid, title, visibleOnly, nullptr};
    EnumWindows(&MatchWindow, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

HWND WaitForTopWindow(DWORD pid, const wchar_t* title, DWORD timeoutMs) {
    HWND found = nullptr;
    WaitUntil([&] { return (found = FindTopWindow(pid, title)) != nullptr; }, timeoutMs);
    return found;
}

std::wstring WindowText(HWND hwnd) {
    wchar_t buf[512] = {};
    DWORD_PTR got = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(buf), SMTO_ABORTIFHUNG, 2000, &got)) {
        return std::wstring();
    }
    return std::wstring(buf, got);
}

std::wstring ItemText(HWND dialog, int id) { return WindowText(GetDlgItem(dialog, id)); }

bool ReadHklmString(const wchar_t* key, const wchar_t* value, std::wstring& out) {
    wchar_t buf[2048] = {};
    DWORD bytes = sizeof buf - sizeof(wchar_t);
    DWORD type = 0;
    HKEY h = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &h) != ERROR_SUCCESS) return false;
    const LONG rc = RegQueryValueExW(h, value, nullptr, &type, reinterpret_cast<BYTE*>(buf), &bytes);
    RegCloseKey(h);
    if (rc != ERROR_SUCCESS || type != REG_SZ) return false;
    out.assign(buf, bytes / sizeof(wchar_t));
    while (!out.empty() && out.back() == L'\0') out.pop_back();
    return true;
}

void DeleteHklmValue(const wchar_t* key, const wchar_t* value) {
    HKEY h = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_ALL_ACCESS, &h) != ERROR_SUCCESS) return;
    RegDeleteValueW(h, value);
    RegCloseKey(h);
}

BITMAPINFO TopDownDib32(int w, int h) {
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    return bi;
}

ScreenCapture::ScreenCapture(const RECT& r) : m_width(r.right - r.left), m_height(r.bottom - r.top) {
    if (m_width <= 0 || m_height <= 0) {
        m_width = m_height = 0;
        return;
    }
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO bi = TopDownDib32(m_width, m_height);
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(mem, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(mem, dib);
    BitBlt(mem, 0, 0, m_width, m_height, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    const auto* p = static_cast<const std::uint32_t*>(bits);
    m_pixels.assign(p, p + static_cast<std::size_t>(m_width) * static_cast<std::size_t>(m_height));
    SelectObject(mem, old);
    DeleteObject(dib);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
}

COLORREF ScreenCapture::At(int x, int y) const {
    const std::uint32_t v = m_pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(m_width) + x];
    return RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
}

int ScreenCapture::Count(const RECT& area, const std::function<bool(COLORREF)>& pred) const {
    int n = 0;
    for (int y = area.top; y < area.bottom && y < m_height; ++y) {
        for (int x = area.left; x < area.right && x < m_width; ++x) {
            if (pred(At(x, y))) ++n;
        }
    }
    return n;
}

bool ScreenCapture::SaveBmp(const std::wstring& path) const {
    FILE* f = _wfopen(path.c_str(), L"wb");
    if (!f) return false;
    const DWORD imageBytes = static_cast<DWORD>(m_pixels.size() * 4);
    BITMAPFILEHEADER fh{};
    fh.bfType = 0x4D42;
    fh.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
    fh.bfSize = fh.bfOffBits + imageBytes;
    BITMAPINFOHEADER ih{};
    ih.biSize = sizeof ih;
    ih.biWidth = m_width;
    ih.biHeight = -m_height;
    ih.biPlanes = 1;
    ih.biBitCount = 32;
    ih.biCompression = BI_RGB;
    const bool ok = fwrite(&fh, sizeof fh, 1, f) == 1 && fwrite(&ih, sizeof ih, 1, f) == 1 &&
                    fwrite(m_pixels.data(), 1, imageBytes, f) == imageBytes;
    fclose(f);
    return ok;
}

bool ReadFileBytes(const std::wstring& path, std::string& out) {
    std::ifstream f(path.c_str(), std::ios::binary);
    if (!f) return false;
    std::ostringstream s;
    s << f.rdbuf();
    out = s.str();
    return true;
}

std::string ReadAll(const std::wstring& path) {
    std::string out;
    ReadFileBytes(path, out);
    return out;
}

void WriteAll(const std::wstring& path, const std::string& bytes) {
    const size_t slash = path.rfind(L'\\');
    if (slash != std::wstring::npos) EnsureFolder(path.substr(0, slash));
    std::ofstream(path.c_str(), std::ios::binary) << bytes;
}

std::wstring RecordedVersion(const wchar_t* name) {
    std::wstring v;
    return ReadHklmString(product::kProductKeyPathW, name, v) ? v : L"<none>";
}

void WriteProductValueW(const std::wstring& name, const std::wstring& value, const std::wstring& subKey) {
    HKEY k = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, (std::wstring(product::kProductKeyPathW) + (subKey.empty() ? L"" : L"\\" + subKey)).c_str(),
                        0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr) != ERROR_SUCCESS) {
        return;
    }
    RegSetValueExW(k, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), static_cast<DWORD>((value.size() + 1) * 2));
    RegCloseKey(k);
}

void DrainQuit() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
}

std::shared_ptr<void> Undo(std::function<void()> undo) {
    return std::shared_ptr<void>(new char(0), [undo](char* p) {
        delete p;
        undo();
    });
}

std::shared_ptr<void> SlowOpenHandler() {
    if (!PlaceStandIn(L"C:\\standins\\slow", L"slow.exe")) return nullptr;
    const std::wstring cls = L"MarrowtideSlowOpen";
    const auto set = [](const std::wstring& key, const std::wstring& value) {
        return RegSetValueW(HKEY_CLASSES_ROOT, key.c_str(), REG_SZ, value.c_str(), 0) == ERROR_SUCCESS;
    };
    const bool ok = set(L".mtxslow", cls) &&
                    set(cls + L"\\shell\\open\\command", L"\"C:\\standins\\slow\\slow.exe\" \"%1\"") &&
                    set(cls + L"\\shell\\open\\ddeexec", L"[open(\"%1\")]") &&
                    set(cls + L"\\shell\\open\\ddeexec\\application", cls) &&
                    set(cls + L"\\shell\\open\\ddeexec\\topic", L"System");
    const auto undo = Undo([cls] {
        KillAll(L"slow.exe");
        SHDeleteKeyW(HKEY_CLASSES_ROOT, L".mtxslow");
        SHDeleteKeyW(HKEY_CLASSES_ROOT, cls.c_str());
    });
    return ok ? undo : nullptr;
}

std::set<std::wstring> Listing(const std::wstring& folder) {
    std::set<std::wstring> names;
    WIN32_FIND_DATAW d;
    HANDLE h = FindFirstFileW((folder + L"\\*").c_str(), &d);
    if (h == INVALID_HANDLE_VALUE) return names;
    do {
        if (wcscmp(d.cFileName, L".") != 0 && wcscmp(d.cFileName, L"..") != 0) names.insert(d.cFileName);
    } while (FindNextFileW(h, &d));
    FindClose(h);
    return names;
}

void EnsureFolder(const std::wstring& path) {
    for (size_t i = 3; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == L'\\') CreateDirectoryW(path.substr(0, i).c_str(), nullptr);
    }
}

void RemoveTree(const std::wstring& path) {
    std::wstring from = path + L'\0';  // the list ends with two zeros
    SHFILEOPSTRUCTW op{};
    op.wFunc = FO_DELETE;
    op.pFrom = from.c_str();
    op.fFlags = FOF_NOCONFIRMATION | FOF_SILENT | FOF_NOERRORUI;
    SHFileOperationW(&op);
}

bool PlaceStandIn(const std::wstring& dir, const std::wstring& name) {
    EnsureFolder(dir);
    const std::wstring target = dir + L"\\" + name;
    DeleteFileW((target + L".log").c_str());
    return CopyFileW(StandInExePath().c_str(), target.c_str(), FALSE) != 0;
}

int StartCount(const std::wstring& exePath) {
    FILE* f = _wfopen((exePath + L".log").c_str(), L"rb");
    if (!f) return 0;
    int n = 0;
    char line[1024];
    while (fgets(line, sizeof line, f)) {
        if (strncmp(line, "started ", 8) == 0) ++n;
    }
    fclose(f);
    return n;
}

std::vector<std::string> RunLogLines(const std::wstring& folder) {
    std::string all;
    std::vector<std::string> lines;
    if (!ReadFileBytes(folder + L"\\" + product::kLogFileNameW, all)) return lines;
    for (std::size_t at = 0; at < all.size();) {
        const std::size_t end = all.find("\r\n", at);
        lines.push_back(all.substr(at, end == std::string::npos ? std::string::npos : end - at));
        at = end == std::string::npos ? all.size() : end + 2;
    }
    return lines;
}

std::vector<std::string> LoggedFailures(const std::vector<std::string>& lines) {
    std::vector<std::string> failures;
    for (const std::string& line : lines) {
        if (line.compare(kLogLevelAt, 5, "FAIL ") == 0) failures.push_back(line.substr(kLogTextAt));
    }
    return failures;
}

std::wstring InstallFolder() {
    wchar_t pf[MAX_PATH] = {};
    SHGetSpecialFolderPathW(nullptr, pf, CSIDL_PROGRAM_FILES, FALSE);
    return std::wstring(pf) + L"\\Marrowtide";
}

std::vector<DWORD> ProcessIds(const std::wstring& imageName) {
    std::vector<DWORD> ids;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE) return ids;
    PROCESSENTRY32W e{};
    e.dwSize = sizeof e;
    for (BOOL ok = Process32FirstW(snap, &e); ok; ok = Process32NextW(snap, &e)) {
        if (_wcsicmp(e.szExeFile, imageName.c_str()) == 0) ids.push_back(e.th32ProcessID);
    }
    CloseHandle(snap);
    return ids;
}

bool ProcessAlive(DWORD pid) {
    HANDLE h = OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (!h) return false;
    const bool alive = WaitForSingleObject(h, 0) == WAIT_TIMEOUT;
    CloseHandle(h);
    return alive;
}

void KillAll(const std::wstring& imageName) {
    for (DWORD pid : ProcessIds(imageName)) {
        HANDLE h = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
        if (!h) continue;
        TerminateProcess(h, 1);
        WaitForSingleObject(h, 5000);
        CloseHandle(h);
    }
}

void CleanProductPrograms() {
    for (const wchar_t* p : {L"Marrowtide.exe", L"Tessvane.exe", L"Quillmere.exe", L"MarRtime.exe", L"MarwDel.exe"}) {
        KillAll(p);
        const std::wstring file = InstallFolder() + L"\\" + p;
        DeleteFileW(file.c_str());
        DeleteFileW((file + L".log").c_str());
    }
}

void SetReportedVersion(const std::wstring& exeName, const std::wstring& version) {
    const std::wstring key = L"Software\\Wine\\AppDefaults\\" + exeName;
    if (version.empty()) {
        SHDeleteKeyW(HKEY_CURRENT_USER, key.c_str());
        return;
    }
    HKEY h = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr)) return;
    RegSetValueExW(h, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version.c_str()),
                   static_cast<DWORD>((version.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(h);
}

namespace {
const wchar_t* const kProductKeyPath = product::kProductKeyPathW;

bool SetKeySecurity(const wchar_t* sddl) {
    HKEY h = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProductKeyPath, 0, WRITE_DAC, &h) != ERROR_SUCCESS) return false;
    PSECURITY_DESCRIPTOR sd = nullptr;
    bool ok = ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &sd, nullptr) &&
              RegSetKeySecurity(h, DACL_SECURITY_INFORMATION, sd) == ERROR_SUCCESS;
    if (sd) LocalFree(sd);
    RegCloseKey(h);
    return ok;
}
}  // namespace

ReadOnlyProductKey::ReadOnlyProductKey() {
    HKEY h = nullptr;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, kProductKeyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr);
    if (h) RegCloseKey(h);
    m_ok = SetKeySecurity(L"D:P(A;OICI;KR;;;WD)");
}

ReadOnlyProductKey::~ReadOnlyProductKey() { SetKeySecurity(L"D:P(A;OICI;KA;;;WD)"); }

void DeleteProductKey() { SHDeleteKeyW(HKEY_LOCAL_MACHINE, kProductKeyPath); }

void MouseMoveTo(int x, int y) {
    SetCursorPos(x, y);
    INPUT in{};
    in.type = INPUT_MOUSE;
    in.mi.dx = x * 65535 / (GetSystemMetrics(SM_CXSCREEN) - 1);
    in.mi.dy = y * 65535 / (GetSystemMetrics(SM_CYSCREEN) - 1);
    in.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    SendInput(1, &in, sizeof in);
}

void MouseButton(bool down) {
    INPUT in{};
    in.type = INPUT_MOUSE;
    in.mi.dwFlags = down ? MOUSEEVENTF_LEFTDOWN : MOUSEEVENTF_LEFTUP;
    SendInput(1, &in, sizeof in);
}

void PressKey(WORD vk) {
    INPUT in[2]{};
    in[0].type = in[1].type = INPUT_KEYBOARD;
    in[0].ki.wVk = in[1].ki.wVk = vk;
    in[1].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(2, in, sizeof in[0]);
}

}  // namespace testing_support
