// The way back: whole runs of the real BrinsoUpdator.exe cut while they place files, and the next start,
// which puts the release before them back whole before it updates.
#include "fault_fixture.h"

namespace fault_matrix {
namespace {

// The product as it was installed before the cut run: its files, their records, no file of the new release.
void ExpectTheReleaseBefore() {
    for (const auto& f : kInstalled) {
        EXPECT_TRUE(ReadAll(InstallFolder() + L"\\" + f.first) == f.second) << Utf8(f.first);
        EXPECT_EQ(RecordedVersion(f.first.substr(f.first.rfind(L'\\') + 1).c_str()), L"1") << Utf8(f.first);
    }
    EXPECT_EQ(GetFileAttributesW((InstallFolder() + L"\\adb\\c.adb").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(RecordedVersion(L"c.adb"), L"<none>");
}

TEST_F(FaultTest, CutPlacements) {
    const auto serve = WithDbVer(Ok(DbVer()));
    // Before the case's run, a run whose process is ended as soon as its log says name was placed: after
    // the first, the second, the last file of the pass (its records, and the program pass, still to come).
    const auto cutAfter = [this, serve](const char* name) {
        return [this, serve, placed = "placed " + std::string(name) + " as "]() -> std::shared_ptr<void> {
            const bool ended = RunBefore(serve, [this, placed](HWND) {
                if (!LogHolds(placed)) return false;
                m_app.Terminate();
                return true;
            });
            return ended && LogHolds(placed) && !LogHolds("run ended") ? std::make_shared<int>(0) : nullptr;
        };
    };
    const std::string told = "an earlier run was cut while it placed files: the 3 file(s) it was replacing are put back";
    const auto putBackThenUpdated = [] {
        const std::vector<std::string> lines = RunLogLines(InstallFolder());
        std::size_t cut = 0, lastPutBack = 0, firstPlaced = 0;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            if (lines[i].find("an earlier run was cut while it placed files") != std::string::npos) cut = i;
            if (cut && lines[i].find(" info put back ") != std::string::npos) lastPutBack = i;
            if (cut && !firstPlaced && lines[i].find(" info placed ") != std::string::npos) firstPlaced = i;
        }
        EXPECT_TRUE(cut && lastPutBack && lastPutBack < firstPlaced) << "put back first, then placed anew";
        for (const auto& l : kListed) EXPECT_EQ(RecordedVersion(Utf16(l.first).c_str()), L"2") << l.first;
        EXPECT_TRUE(ReadAll(InstallFolder() + L"\\gdb\\b.gdb") == kListed.at("b.gdb"));
        EXPECT_EQ(GetFileAttributesW((InstallFolder() + L"\\BrinsoUpdator.previous\\journal").c_str()), INVALID_FILE_ATTRIBUTES);
    };
    std::vector<Case> cases;
    for (const char* name : {"a.dll", "b.gdb", "c.adb"}) {
        Case c{std::string("the process ended once ") + name + " was placed: the next start puts the release before back, then updates",
               serve, nullptr, true, putBackThenUpdated};
        c.prepare = cutAfter(name);
        cases.push_back(Logs(c, told));
    }
    // The list gone at the next start: what it puts back is all there is.
    Case gone{"the process ended once a.dll was placed, the list gone at the next start: the release before, whole",
              WithDbVer(HttpAnswer::Status(404, "Not Found", "none")), nullptr, true, ExpectTheReleaseBefore};
    gone.prepare = cutAfter("a.dll");
    cases.push_back(Logs(gone, told));
    RunAll(cases);
}

}  // namespace
}  // namespace fault_matrix
