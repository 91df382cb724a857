#include "update/version_info_file.h"

#include <shlwapi.h>

#include <new>
#include <vector>

#include "core/platform.h"
#include "core/text.h"
#include "core/version_info.h"
#include "framework/handles.h"
#include "framework/win_text.h"
#include "host/registry_key.h"
#include "update/update_file.h"

void AppendUpdateFile(CUpdateFileArray& list, const UPDATE_FILE_INFO& record) {
    try {
        list.push_back(record);
    } catch (const std::bad_alloc&) {
        // dropped; the rest of the file is still read
    }
}

void RemoveUpdateFile(CUpdateFileArray& list, const CString& name) {
    for (auto it = list.begin(); it != list.end(); ++it) {
        if (core::EqualsNoCase(it->szFileName.str(), name.str())) {
            list.erase(it);
            return;  // the list never holds a name twice
        }
    }
}

bool ReadVersionInfoBytes(const CString& path, std::string& bytes) {
    const std::wstring wide = Wide(path);
    if (!::PathFileExistsW(wide.c_str())) return false;
    const ScopedFile file(::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    const DWORD size = ::GetFileSize(file.get(), nullptr);
    if (size == 0 || size == INVALID_FILE_SIZE || size > core::kMaxVersionInfoBytes) return false;
    std::string buffer;
    try {
        buffer.assign(size, '\0');
    } catch (const std::bad_alloc&) {
        return false;
    }
    DWORD read = 0;
    if (!::ReadFile(file.get(), &buffer[0], size, &read, nullptr)) return false;
    buffer.resize(read);
    if (!core::WithinVersionInfoBounds(buffer.data(), buffer.size())) return false;
    bytes.swap(buffer);
    return true;
}

void ForEachVersionInfoLine(const std::string& bytes, const std::function<void(const CString&)>& onLine) {
    core::ForEachLine(bytes.data(), bytes.size(), [&](const std::string& line) {
        std::string text;
        if (DecodeCodePage(kVersionInfoCodePage, line, text)) onLine(CString(text));
    });
}

CString EntryFolder(const CString& installPath, const CString& name) {
    switch (core::DestinationByExtension(name.str())) {
    case core::Destination::GdbFolder: return installPath + "\\gdb";
    case core::Destination::AdbFolder: return installPath + "\\adb";
    case core::Destination::InstallFolder: break;
    }
    return installPath;
}

bool InstalledPath(const CString& installPath, const CString& name, CString& path) {
    std::string joined;
    if (!core::JoinPath(EntryFolder(installPath, name).str(), name.str(), joined)) return false;
    path = CString(joined);
    return true;
}

bool IsEntryDue(CString& installPath, const CString& name, const CString& version) {
    // The name becomes a path in the temp and install folders and a registry value name: anything but a
    // bare file name would reach outside them or over the product's own values, so it is never fetched.
    if (!core::IsAcceptableEntryName(name.str())) return false;
    if (installPath.IsEmpty()) ReadProductValue("InstallPath", kInstallPathChars, installPath);
    CString installed;
    if (!InstalledPath(installPath, name, installed)) return false;
    if (!::PathFileExistsW(Wide(installed).c_str())) return true;
    CString recorded;
    if (!ReadProductValue(name, kVersionChars, recorded)) return true;
    const bool current = recorded.GetLength() == version.GetLength() && core::EqualsNoCase(recorded.str(), version.str());
    return !current;
}
