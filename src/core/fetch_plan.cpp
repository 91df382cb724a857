#include "core/fetch_plan.h"

#include "core/text.h"

namespace core {

NextAttempt Following(const DownloadOutcome& outcome, const Turn& turn) {
    if (outcome.ok || outcome.failure == DownloadFailure::Stopped) return NextAttempt::None;
    if (turn.plainNameLeft && outcome.failure == DownloadFailure::Status && outcome.status == 404) return NextAttempt::PlainName;
    if (turn.wholeFileLeft) return NextAttempt::WholeFile;
    return NextAttemptAfter(outcome, turn.mayAskAgain, turn.otherHostLeft, turn.waitLeft);
}

Turn HostTurns::Current() const {
    Turn t;
    t.mayAskAgain = !m_askedAgain;
    t.otherHostLeft = m_host + 1 < m_hosts;
    t.waitLeft = kMaxRetryAfterSeconds - m_waited;
    t.plainNameLeft = ByHash();
    return t;
}

std::int64_t HostTurns::After(NextAttempt next, std::int64_t retryAfter) {
    if (!Left()) return 0;
    if (next == NextAttempt::PlainName && ByHash()) {
        m_plain = true;
        return 0;
    }
    if (!m_askedAgain && (next == NextAttempt::WholeAgain || next == NextAttempt::SameHostLater)) {
        m_askedAgain = true;
        const std::int64_t wait = next == NextAttempt::SameHostLater && retryAfter > 0 ? retryAfter : 0;
        m_waited += wait;
        return wait;
    }
    ++m_host;
    m_askedAgain = false;
    m_plain = false;
    return 0;
}

std::string TargetOnHost(const std::string& object, const std::string& host) {
    if (object.compare(0, 7, "http://") != 0) return object;
    const std::size_t slash = object.find('/', 7);
    const std::string authority = object.substr(7, slash == std::string::npos ? std::string::npos : slash - 7);
    if (EqualsNoCase(authority, host)) return object;
    return slash == std::string::npos ? std::string("/") : object.substr(slash);
}

std::uint64_t BlockMapBytes(std::uint64_t fileSize) {
    const std::uint64_t blockSize = ChooseBlockSize(fileSize);
    return kBlockMapHeaderSize + (fileSize + blockSize - 1) / blockSize * kBlockEntrySize;
}

bool MayComeByBlocks(bool hasDigest, bool hasSize, std::uint64_t size) { return hasDigest && hasSize && size >= kMinMappedFileSize; }

BlockPlan PlanByBlocks(const BlockMap& map, const std::vector<std::int64_t>& found, std::uint64_t mapBytes) {
    BlockPlan plan;
    const std::vector<ByteRange> missing = MissingRanges(map, found);
    for (const ByteRange& r : missing) plan.asked += r.end - r.first;
    plan.worthIt = plan.asked + mapBytes < map.fileSize;
    if (plan.worthIt) plan.requests = BatchRanges(missing, kRangesPerRequest, kRangeBytesPerRequest);
    return plan;
}

}  // namespace core
