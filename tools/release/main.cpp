// marrowtide-release: the vendor's publishing tool for the Marrowtide updater.
//   marrowtide-release keygen PRIVATE.pem
//   marrowtide-release pubkey PRIVATE.pem
//   marrowtide-release publish RELEASE-DIR DESCRIPTION (--key PRIVATE.pem | --unsigned) [--rank PUBLIC.pem]...
//                              [--expires-days N] [--serial N]
//   marrowtide-release verify RELEASE-DIR (--key PUBLIC.pem... | --unsigned) [--previous OLD-RELEASE-DIR] [--file VERSION-FILE]...
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "release_tool.h"

namespace {

int Usage(const std::string& wrong, FILE* out = stderr) {
    if (!wrong.empty()) std::fprintf(stderr, "marrowtide-release: %s\n", wrong.c_str());
    std::fprintf(out,
                 "usage: marrowtide-release keygen PRIVATE.pem\n"
                 "       marrowtide-release pubkey PRIVATE.pem\n"
                 "       marrowtide-release publish RELEASE-DIR DESCRIPTION (--key PRIVATE.pem | --unsigned)\n"
                 "                                  [--rank PUBLIC.pem]... [--expires-days N] [--serial N]\n"
                 "       marrowtide-release verify RELEASE-DIR (--key PUBLIC.pem... | --unsigned)\n"
                 "                                 [--previous OLD-RELEASE-DIR] [--file VERSION-FILE]...\n"
                 "       marrowtide-release --help\n"
                 "--key and --rank repeat, once per file: verify's keys and publish's --rank keys are the updater's keys\n"
                 "in the order it is built with them (UPDATER_RELEASE_KEYS), oldest first.\n");
    return 2;
}

// A whole decimal number from low to high, or false.
bool Number(const char* text, unsigned long long low, unsigned long long high, unsigned long long& value) {
    if (!*text || *text < '0' || *text > '9') return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtoull(text, &end, 10);
    return !*end && errno == 0 && value >= low && value <= high;
}

int Report(const std::vector<release_tool::Problem>& problems) {
    for (const auto& p : problems) std::printf("%s\n", release_tool::Describe(p).c_str());
    return problems.empty() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage("no command");
    const std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        Usage("", stdout);
        return 0;
    }
    std::vector<release_tool::Problem> problems;
    if (command == "keygen" || command == "pubkey") {
        if (argc != 3) return Usage(command + " takes the private key's file, and nothing else");
        std::string pem, keyId;
        const bool ok = command == "keygen" ? release_tool::Keygen(argv[2], pem, keyId, problems)
                                            : release_tool::PublicKeyOf(argv[2], pem, keyId, problems);
        if (!ok) return Report(problems);
        std::printf("%sKEYID %s\n", pem.c_str(), keyId.c_str());
        return 0;
    }
    if (command != "publish" && command != "verify") return Usage("unknown command \"" + command + "\"");
    const int first = command == "publish" ? 4 : 3;
    if (argc < first) return Usage(command == "publish" ? "publish takes RELEASE-DIR and DESCRIPTION" : "verify takes RELEASE-DIR");
    std::vector<std::string> keys, files;
    std::string previous;
    release_tool::PublishOptions options;
    for (int i = first; i < argc; ++i) {
        const std::string option = argv[i];
        const bool publish = command == "publish";
        if (option == "--unsigned") {
            options.unsignedRelease = true;
            continue;
        }
        const bool known = option == "--key" || (!publish && (option == "--previous" || option == "--file")) ||
                           (publish && (option == "--expires-days" || option == "--serial" || option == "--rank"));
        if (!known) return Usage("unknown option \"" + option + "\" for " + command);
        if (i + 1 == argc) return Usage(option + " needs a value");
        const char* value = argv[++i];
        unsigned long long number = 0;
        if (option == "--key") keys.push_back(value);
        else if (option == "--rank") options.rankedKeys.push_back(value);
        else if (option == "--previous") previous = value;
        else if (option == "--file") files.push_back(value);
        else if (option == "--expires-days") {
            if (!Number(value, 1, 3650, number)) return Usage("--expires-days takes a number of days from 1 to 3650");
            options.expiresDays = static_cast<int>(number);
        } else if (!Number(value, 1, 9223372036854775807ULL, number)) {
            return Usage("--serial takes a number from 1 to 9223372036854775807");
        } else {
            options.serial = number;
        }
    }
    if (command == "publish") {
        if (keys.size() > 1) return Usage("publish signs with one --key");
        options.privatePath = keys.empty() ? "" : keys[0];
        std::vector<std::string> written, removed;
        const bool ok = release_tool::Publish(argv[2], argv[3], options, written, problems, &removed);
        for (const std::string& w : written) std::printf("written: %s\n", w.c_str());
        for (const std::string& r : removed) std::printf("removed: %s\n", r.c_str());
        return ok ? 0 : Report(problems);
    }
    if (files.empty()) files = release_tool::StandardVersionFiles();
    if (release_tool::Verify(argv[2], files, keys, previous, problems, options.unsignedRelease)) {
        std::printf("%s: every check holds%s\n", argv[2], keys.empty() ? " (an unsigned release: no signature checked)" : "");
        return 0;
    }
    return Report(problems);
}
