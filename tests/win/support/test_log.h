#pragma once
// The vendor's log as the tests serve it: the program built with it, entries, tiles and checkpoints made as
// the publishing tool makes them, signed with the test keys.
#include <map>
#include <string>
#include <vector>

namespace testing_support {

// The origin LoggedUpdatorExePath() is built with; the witness "unknown" must have cosigned its checkpoint.
constexpr char kTestLogOrigin[] = "127.0.0.2/log";
// A version-info file's entry in the vendor's log.
std::string LogEntry(const std::string& path, const std::string& bytes);
// The log of these entries as the publishing tool writes it: each file under "/log/" as the server serves
// it, and its bytes. Its checkpoint is signed with the test key key under origin and cosigned by witnesses.
std::map<std::string, std::string> LogFiles(const std::vector<std::string>& entries, int key, const std::vector<int>& witnesses,
                                            const std::string& origin = kTestLogOrigin);

}  // namespace testing_support
