#pragma once
// The text of a version-info file: lines, keys and values, the fields of a file entry.
#include <functional>
#include <string>

namespace core {

// The text up to the first NUL, cut at every CR LF (a lone CR or LF ends nothing); the text after the
// last CR LF is a line too when it is not empty.
void ForEachLine(const char* data, std::size_t size, const std::function<void(const std::string&)>& onLine);

enum class LineKind { Ignored, Site, SubDir, Entry };

struct ClassifiedLine {
    LineKind kind = LineKind::Ignored;
    std::string key;    // everything before the first "=", nothing trimmed
    std::string value;  // everything after it
};

// Empty lines, comments (";" or "#" as the very first byte) and lines without a key are ignored;
// "SITE" and "SUBDIR" keys are recognised in any letter case; every other key is a file entry.
ClassifiedLine ClassifyLine(const std::string& line);

// A "/" put in front of a non-empty value without one, then one trailing "/" removed.
std::string NormaliseSubDir(std::string value);

struct EntryFields {
    std::string version;  // at most kMaxVersionChars characters
    int reserved = 0;
    int registerFlag = 0;
    int openFlag = 0;
};
constexpr std::size_t kMaxFileNameChars = 259;
constexpr std::size_t kMaxVersionChars = 127;

// The fields as strtok with "," takes them (empty fields skipped, later ones move up), the numbers as
// atoi reads them; fields after the fourth ignored, missing ones empty or 0.
EntryFields ParseEntryFields(const std::string& value);
int AtoiLike(const std::string& text);
// The first maxChars characters (UTF-16 units) of UTF-8 text, never splitting a character.
std::string KeepChars(const std::string& text, std::size_t maxChars);

// A name that can only mean a file directly in the folder it is placed in: no "\" or "/", no drive or
// stream ":", not "." or "..", no control character, not a device name (CON, PRN, AUX, NUL, COM1-9,
// LPT1-9, with or without an extension).
bool IsBareFileName(const std::string& name);

enum class Destination { InstallFolder, GdbFolder, AdbFolder };
// By the extension from the last ".", compared without regard to case.
Destination DestinationByExtension(const std::string& name);

}  // namespace core
