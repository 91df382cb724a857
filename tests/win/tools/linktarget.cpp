// Prints "link -> target" for every shell link in the given folders, as UTF-8 on standard output.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <string>

namespace {

void Write(const std::wstring& text) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &bytes[0], n, nullptr, nullptr);
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

std::wstring Target(const std::wstring& link) {
    std::wstring target = L"<unreadable>";
    IShellLinkW* shellLink = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&shellLink)))) {
        return target;
    }
    IPersistFile* file = nullptr;
    if (SUCCEEDED(shellLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
        wchar_t path[MAX_PATH] = {};
        if (SUCCEEDED(file->Load(link.c_str(), STGM_READ)) && SUCCEEDED(shellLink->GetPath(path, MAX_PATH, nullptr, 0))) {
            target = path;
        }
        file->Release();
    }
    shellLink->Release();
    return target;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    CoInitialize(nullptr);
    for (int i = 1; i < argc; ++i) {
        const std::wstring folder = argv[i];
        WIN32_FIND_DATAW d;
        HANDLE h = FindFirstFileW((folder + L"\\*.lnk").c_str(), &d);
        if (h == INVALID_HANDLE_VALUE) continue;
        do {
            const std::wstring link = folder + L"\\" + d.cFileName;
            Write(link + L" -> " + Target(link) + L"\n");
        } while (FindNextFileW(h, &d));
        FindClose(h);
    }
    CoUninitialize();
    return 0;
}
