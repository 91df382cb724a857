// marrowtide-release: the vendor's publishing tool for the Marrowtide updater.
//   marrowtide-release keygen PRIVATE.pem
//   marrowtide-release publish RELEASE-DIR DESCRIPTION [--key PRIVATE.pem] [--expires-days N]
//   marrowtide-release verify RELEASE-DIR [--key PUBLIC.pem]... [--previous OLD-RELEASE-DIR] [--file VERSION-FILE]...
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "release_tool.h"

namespace {

int Usage() {
    std::fprintf(stderr,
                 "usage: marrowtide-release keygen PRIVATE.pem\n"
                 "       marrowtide-release publish RELEASE-DIR DESCRIPTION [--key PRIVATE.pem] [--expires-days N]\n"
                 "       marrowtide-release verify RELEASE-DIR [--key PUBLIC.pem]... [--previous OLD-RELEASE-DIR]\n"
                 "                                 [--file VERSION-FILE]...\n");
    return 2;
}

int Report(const std::vector<release_tool::Problem>& problems) {
    for (const auto& p : problems) std::printf("%s\n", release_tool::Describe(p).c_str());
    return problems.empty() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return Usage();
    const std::string command = argv[1];
    std::vector<release_tool::Problem> problems;
    if (command == "keygen" && argc == 3) {
        std::string pem, keyId;
        if (!release_tool::Keygen(argv[2], pem, keyId, problems)) return Report(problems);
        std::printf("%sKEYID %s\n", pem.c_str(), keyId.c_str());
        return 0;
    }
    std::vector<std::string> keys, files;
    std::string previous;
    int expiresDays = 30;
    int first = command == "publish" ? 4 : 3;
    if (argc < first) return Usage();
    for (int i = first; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (!std::strcmp(argv[i], "--key") && hasValue) keys.push_back(argv[++i]);
        else if (!std::strcmp(argv[i], "--previous") && hasValue && command == "verify") previous = argv[++i];
        else if (!std::strcmp(argv[i], "--file") && hasValue && command == "verify") files.push_back(argv[++i]);
        else if (!std::strcmp(argv[i], "--expires-days") && hasValue && command == "publish") {
            char* end = nullptr;
            const long days = std::strtol(argv[++i], &end, 10);
            if (*end || days < 1 || days > 3650) {
                std::fprintf(stderr, "--expires-days takes a number of days from 1 to 3650\n");
                return 2;
            }
            expiresDays = static_cast<int>(days);
        }
        else return Usage();
    }
    if (command == "publish" && keys.size() <= 1) {
        std::vector<std::string> written;
        const bool ok = release_tool::Publish(argv[2], argv[3], keys.empty() ? "" : keys[0], written, problems, expiresDays);
        for (const std::string& w : written) std::printf("written: %s\n", w.c_str());
        return ok ? 0 : Report(problems);
    }
    if (command == "verify") {
        if (files.empty()) files = release_tool::StandardVersionFiles();
        if (release_tool::Verify(argv[2], files, keys, previous, problems)) {
            std::printf("%s: every check holds%s\n", argv[2], keys.empty() ? " (signatures not checked: no key given)" : "");
            return 0;
        }
        return Report(problems);
    }
    return Usage();
}
