#pragma once
// The placement journal: what a run is about to replace, written whole before its first replacement, so that
// a start after a run cut in its placements (the power failed, the process was ended) can put every file back
// as it was. Each entry: the installed file, where its previous copy is kept (none: there was no file), and
// the version the product key recorded for it (none: no record).
#include <cstddef>
#include <string>
#include <vector>

namespace core {

// A journal is a line per file placed in a run: real ones are a few KiB.
constexpr std::size_t kMaxJournalBytes = 4 * 1024 * 1024;

struct JournalEntry {
    std::string destination;  // the installed file's path
    std::string previous;     // its previous copy's path; empty: the file did not exist
    std::string valueName;    // the product key's value that records its version
    bool recorded = false;    // a version was recorded
    std::string version;      // and this was it
    bool operator==(const JournalEntry& o) const {
        return destination == o.destination && previous == o.previous && valueName == o.valueName && recorded == o.recorded &&
               version == o.version;
    }
};

// The journal's bytes: a first line naming the format, a line per entry, and a last line that says the
// journal is whole.
std::string FormatJournal(const std::vector<JournalEntry>& entries);
// The entries of a whole journal; false for anything else (another format, or one cut before its end: no
// file was replaced while it was being written).
bool ParseJournal(const std::string& bytes, std::vector<JournalEntry>& entries);

}  // namespace core
