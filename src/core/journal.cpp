#include "core/journal.h"

#include <cstdio>

namespace core {

namespace {

constexpr char kFirstLine[] = "MWJOURNAL1";
constexpr char kLastLine[] = "end";
// Lines of a journal whose placements are done, and of a release it names; every other line is an entry
// (an entry's first field is an absolute path, never one of these).
constexpr char kPlacedTag[] = "placed";
constexpr char kReleaseTag[] = "release";

// A field with "%", tabs and line ends percent-encoded: a version text may hold any of them.
std::string Escaped(const std::string& field) {
    std::string out;
    for (const char c : field) {
        if (c == '%' || c == '\t' || c == '\r' || c == '\n') {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", static_cast<unsigned char>(c));
            out += hex;
        } else {
            out += c;
        }
    }
    return out;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool Unescaped(const std::string& field, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] != '%') {
            out += field[i];
            continue;
        }
        if (i + 2 >= field.size()) return false;
        const int high = HexValue(field[i + 1]), low = HexValue(field[i + 2]);
        if (high < 0 || low < 0) return false;
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return true;
}

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t from = 0;
    for (std::size_t tab; (tab = line.find('\t', from)) != std::string::npos; from = tab + 1) fields.push_back(line.substr(from, tab - from));
    fields.push_back(line.substr(from));
    return fields;
}

// A decimal number without sign or leading zeros, as this journal writes one.
bool ParseNumber(const std::string& text, std::uint64_t max, std::uint64_t& value) {
    if (text.empty() || text.size() > 20 || (text.size() > 1 && text[0] == '0')) return false;
    value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9' || value > (max - static_cast<std::uint64_t>(c - '0')) / 10) return false;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return true;
}

bool ParseLine(const std::vector<std::string>& f, Journal& journal) {
    std::uint64_t n = 0;
    if (f[0] == kPlacedTag) {
        if (f.size() != 2 || journal.placed || !ParseNumber(f[1], 0xFFFFFFFFu, n)) return false;
        journal.placed = true;
        journal.windows = static_cast<unsigned>(n);
        return true;
    }
    if (f[0] == kReleaseTag) {
        JournalRelease r;
        if (f.size() != 3 || !Unescaped(f[1], r.file) || r.file.empty() || !ParseNumber(f[2], ~std::uint64_t{0}, r.serial)) return false;
        journal.releases.push_back(r);
        return true;
    }
    JournalEntry e;
    if (f.size() != 5 || (f[3] != "0" && f[3] != "1") || !Unescaped(f[0], e.destination) || e.destination.empty() ||
        !Unescaped(f[1], e.previous) || !Unescaped(f[2], e.valueName) || !Unescaped(f[4], e.version)) {
        return false;
    }
    e.recorded = f[3] == "1";
    journal.entries.push_back(e);
    return true;
}

}  // namespace

std::string FormatJournal(const Journal& journal) {
    std::string out = std::string(kFirstLine) + "\n";
    if (journal.placed) out += std::string(kPlacedTag) + "\t" + std::to_string(journal.windows) + "\n";
    for (const JournalRelease& r : journal.releases) out += std::string(kReleaseTag) + "\t" + Escaped(r.file) + "\t" + std::to_string(r.serial) + "\n";
    for (const JournalEntry& e : journal.entries) {
        out += Escaped(e.destination) + "\t" + Escaped(e.previous) + "\t" + Escaped(e.valueName) + "\t" + (e.recorded ? "1" : "0") + "\t" +
               Escaped(e.version) + "\n";
    }
    return out + kLastLine + "\n";
}

bool ParseJournal(const std::string& bytes, Journal& journal) {
    journal = Journal{};
    std::vector<std::string> lines;
    std::size_t from = 0;
    for (std::size_t end; (end = bytes.find('\n', from)) != std::string::npos; from = end + 1) lines.push_back(bytes.substr(from, end - from));
    if (from != bytes.size() || lines.size() < 2 || lines.front() != kFirstLine || lines.back() != kLastLine) return false;
    for (std::size_t i = 1; i + 1 < lines.size(); ++i) {
        if (!ParseLine(Fields(lines[i]), journal)) {
            journal = Journal{};
            return false;
        }
    }
    return true;
}

std::string ReleasesText(const std::vector<JournalRelease>& releases) {
    std::string text;
    for (std::size_t i = 0; i < releases.size(); ++i) {
        if (i > 0) text += i + 1 == releases.size() ? " and " : ", ";
        text += releases[i].file + (releases[i].serial ? " serial " + std::to_string(releases[i].serial) : " (no serial)");
    }
    return text;
}

}  // namespace core
