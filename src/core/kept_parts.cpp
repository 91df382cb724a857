#include "core/kept_parts.h"

#include <algorithm>
#include <map>

#include "core/text.h"

namespace core {

namespace {

const char kPart[] = ".part";
const char kTag[] = ".tag";

bool EndsWith(const std::string& s, const char* end, std::size_t n) { return s.size() >= n && s.compare(s.size() - n, n, end) == 0; }

}  // namespace

std::string KeptPartName(const Sha256Digest& digest) { return HexLower(digest.data(), digest.size()) + kPart; }
std::string KeptTagName(const Sha256Digest& digest) { return HexLower(digest.data(), digest.size()) + kTag; }

std::vector<std::string> KeptFilesToRemove(const std::vector<KeptFile>& files, const std::set<std::string>& wanted,
                                           std::uint64_t bound) {
    // Names compare as Windows compares them (these are ASCII): a part renamed in another case is the same part.
    std::set<std::string> folded;
    for (const std::string& w : wanted) folded.insert(AsciiLower(w));
    std::map<std::string, const KeptFile*> parts, tags;  // by the part's folded name
    std::vector<std::string> removed;
    for (const KeptFile& f : files) {
        const std::string name = AsciiLower(f.name);
        const bool isTag = EndsWith(name, kTag, sizeof kTag - 1);
        const std::string part = isTag ? name.substr(0, name.size() - (sizeof kTag - 1)) + kPart : name;
        if (!folded.count(part)) {
            removed.push_back(f.name);
        } else {
            (isTag ? tags : parts)[part] = &f;
        }
    }
    std::vector<const KeptFile*> pairs;
    std::uint64_t total = 0;
    for (const auto& [name, part] : parts) {
        if (tags.count(name)) {
            pairs.push_back(part);
            total += part->size;
        } else {
            removed.push_back(part->name);
        }
    }
    for (const auto& [name, tag] : tags) {
        if (!parts.count(name)) removed.push_back(tag->name);
    }
    std::sort(pairs.begin(), pairs.end(), [](const KeptFile* a, const KeptFile* b) { return a->writtenAt < b->writtenAt; });
    for (const KeptFile* part : pairs) {
        if (total <= bound) break;
        total -= part->size;
        removed.push_back(part->name);
        removed.push_back(tags[AsciiLower(part->name)]->name);
    }
    return removed;
}

}  // namespace core
