#pragma once
// The vendor's publishing tool: release keys, signed version-info files written from a release folder and a
// description of it, and the check of a release folder as the updater would make it. Text is UTF-8 here
// and code page 949 in the version-info files; the rules for lines and names are the updater's own
// (src/core), so the tool and the updater cannot disagree about a name or a line.
#include <string>
#include <vector>

namespace release_tool {

// One problem: where (a file, and a line when there is one) and what.
struct Problem {
    std::string where;
    std::string what;
};
std::string Describe(const Problem& p);

// keygen: a new P-256 key pair. The private key goes to privatePath (mode 0600; an existing file is never
// replaced); publicPem and keyId describe the public key.
bool Keygen(const std::string& privatePath, std::string& publicPem, std::string& keyId, std::vector<Problem>& problems);

// publish: writes each version-info file the description names into the release folder (its own path, an
// expiry expiresDays after now, a digest and a size for every file), signed with the private key when
// privatePath is not empty. Nothing on disk changes unless every file could be written.
bool Publish(const std::string& releaseDir, const std::string& descriptionPath, const std::string& privatePath,
             std::vector<std::string>& written, std::vector<Problem>& problems, int expiresDays = 30);

// verify: the version-info files (paths in the release folder) checked as the updater would check them:
// signature and KEYID against the public keys (when any are given), its own path and an expiry still ahead,
// one serial no lower than that of the same file in previousDir (when given), every name acceptable and in
// code page 949, every listed file present with its digest and size.
bool Verify(const std::string& releaseDir, const std::vector<std::string>& versionFiles,
            const std::vector<std::string>& publicKeyPaths, const std::string& previousDir,
            std::vector<Problem>& problems);

// The version-info files of a release folder as the updater asks for them.
const std::vector<std::string>& StandardVersionFiles();

}  // namespace release_tool
