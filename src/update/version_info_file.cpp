#include "update/version_info_file.h"

#include <shlwapi.h>

#include <new>
#include <vector>

#include "core/platform.h"
#include "core/product.h"
#include "core/text.h"
#include "core/version_info.h"
#include "framework/file.h"
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

VersionInfoProblem ReadVersionInfoBytes(const CString& path, std::string& bytes) {
    const std::wstring wide = Wide(path);
    if (!::PathFileExistsW(wide.c_str())) return VersionInfoProblem::Unreadable;
    const ScopedFile file = OpenToRead(wide);
    if (!file) return VersionInfoProblem::Unreadable;
    const DWORD size = ::GetFileSize(file.get(), nullptr);
    if (size == INVALID_FILE_SIZE) return VersionInfoProblem::Unreadable;
    if (size == 0) return VersionInfoProblem::Empty;
    if (size > core::kMaxVersionInfoBytes) return VersionInfoProblem::TooLarge;
    std::string buffer;
    try {
        buffer.assign(size, '\0');
    } catch (const std::bad_alloc&) {
        return VersionInfoProblem::TooLarge;
    }
    DWORD read = 0;
    if (!::ReadFile(file.get(), &buffer[0], size, &read, nullptr)) return VersionInfoProblem::Unreadable;
    buffer.resize(read);
    if (!core::WithinVersionInfoBounds(buffer.data(), buffer.size())) return VersionInfoProblem::TooLarge;
    bytes.swap(buffer);
    return VersionInfoProblem::None;
}

void ForEachVersionInfoLine(const std::string& bytes, const std::function<void(const CString&)>& onLine) {
    core::ForEachLine(bytes.data(), bytes.size(), [&](const std::string& line) {
        std::string text;
        if (DecodeCodePage(kVersionInfoCodePage, line, text)) onLine(CString(text));
    });
}

CString EntryFolder(const CString& installPath, const CString& name) {
    switch (core::DestinationByExtension(name.str())) {
    case core::Destination::GdbFolder: return installPath + "\\" + product::kGdbFolder;
    case core::Destination::AdbFolder: return installPath + "\\" + product::kAdbFolder;
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

EntryVerdict CheckEntry(CString& installPath, const CString& name, const CString& version) {
    // The name becomes a path in the temp and install folders and a registry value name: anything but a
    // bare file name would reach outside them or over the product's own values, so it is never fetched.
    if (!core::IsAcceptableEntryName(name.str())) return EntryVerdict::RefusedName;
    if (installPath.IsEmpty()) ReadProductValue(product::kInstallPathValue, kInstallPathChars, installPath);
    CString installed;
    if (!InstalledPath(installPath, name, installed)) return EntryVerdict::RefusedPath;
    if (!::PathFileExistsW(Wide(installed).c_str())) return EntryVerdict::DueMissing;
    CString recorded;
    if (!ReadProductValue(name, kVersionChars, recorded)) return EntryVerdict::DueNotRecorded;
    const bool current = recorded.GetLength() == version.GetLength() && core::EqualsNoCase(recorded.str(), version.str());
    return current ? EntryVerdict::Current : EntryVerdict::DueNewVersion;
}
