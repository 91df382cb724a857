// marrowtide-release: the vendor's publishing tool for the Marrowtide updater.
//   marrowtide-release keygen PRIVATE.pem
//   marrowtide-release pubkey PRIVATE.pem
//   marrowtide-release publish RELEASE-DIR DESCRIPTION (--key PRIVATE.pem | --unsigned) [--rank PUBLIC.pem]...
//                              [--expires-days N] [--serial N] [--log-origin ORIGIN]
//   marrowtide-release audit RELEASE-DIR [--key PUBLIC.pem]...
//   marrowtide-release witness RELEASE-DIR --key WITNESS-PRIVATE.pem --name NAME --log-key PUBLIC.pem --state FILE
//   marrowtide-release verify RELEASE-DIR (--key PUBLIC.pem... | --unsigned) [--previous OLD-RELEASE-DIR] [--file VERSION-FILE]...
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "log.h"
#include "release_tool.h"

namespace {

int Usage(const std::string& wrong, FILE* out = stderr) {
    if (!wrong.empty()) std::fprintf(stderr, "marrowtide-release: %s\n", wrong.c_str());
    std::fprintf(out,
                 "usage: marrowtide-release keygen PRIVATE.pem\n"
                 "       marrowtide-release pubkey PRIVATE.pem\n"
                 "       marrowtide-release publish RELEASE-DIR DESCRIPTION (--key PRIVATE.pem | --unsigned)\n"
                 "                                  [--rank PUBLIC.pem]... [--expires-days N] [--serial N] [--log-origin ORIGIN]\n"
                 "       marrowtide-release verify RELEASE-DIR (--key PUBLIC.pem... | --unsigned)\n"
                 "                                 [--previous OLD-RELEASE-DIR] [--file VERSION-FILE]...\n"
                 "       marrowtide-release audit RELEASE-DIR [--key PUBLIC.pem]...\n"
                 "       marrowtide-release witness RELEASE-DIR --key WITNESS-PRIVATE.pem --name NAME --log-key PUBLIC.pem --state FILE\n"
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

// The options of publish and verify, from argv[first] on; "" when they are well formed, else what is wrong.
struct Options {
    std::vector<std::string> keys, files;
    std::string previous;
    release_tool::PublishOptions publish;
};
std::string ParseOptions(bool publish, int first, int argc, char** argv, Options& o) {
    for (int i = first; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--unsigned") {
            o.publish.unsignedRelease = true;
            continue;
        }
        const bool known = option == "--key" || (!publish && (option == "--previous" || option == "--file")) ||
                           (publish && (option == "--expires-days" || option == "--serial" || option == "--rank" || option == "--log-origin"));
        if (!known) return "unknown option \"" + option + "\" for " + (publish ? "publish" : "verify");
        if (i + 1 == argc) return option + " needs a value";
        const char* value = argv[++i];
        unsigned long long number = 0;
        if (option == "--key") o.keys.push_back(value);
        else if (option == "--rank") o.publish.rankedKeys.push_back(value);
        else if (option == "--previous") o.previous = value;
        else if (option == "--file") o.files.push_back(value);
        else if (option == "--log-origin") o.publish.logOrigin = value;
        else if (option == "--expires-days") {
            if (!Number(value, 1, 3650, number)) return "--expires-days takes a number of days from 1 to 3650";
            o.publish.expiresDays = static_cast<int>(number);
        } else if (!Number(value, 1, 9223372036854775807ULL, number)) {
            return "--serial takes a number from 1 to 9223372036854775807";
        } else {
            o.publish.serial = number;
        }
    }
    return "";
}

int Publish(const char* releaseDir, const char* description, Options& o) {
    if (o.keys.size() > 1) return Usage("publish signs with one --key");
    o.publish.privatePath = o.keys.empty() ? "" : o.keys[0];
    std::vector<std::string> written, removed;
    std::vector<release_tool::Problem> problems;
    const bool ok = release_tool::Publish(releaseDir, description, o.publish, written, problems, &removed);
    for (const std::string& w : written) std::printf("written: %s\n", w.c_str());
    for (const std::string& r : removed) std::printf("removed: %s\n", r.c_str());
    return ok ? 0 : Report(problems);
}

int Verify(const char* releaseDir, Options& o) {
    if (o.files.empty()) o.files = release_tool::StandardVersionFiles();
    std::vector<release_tool::Problem> problems;
    if (release_tool::Verify(releaseDir, o.files, o.keys, o.previous, problems, o.publish.unsignedRelease)) {
        std::printf("%s: every check holds%s\n", releaseDir, o.keys.empty() ? " (an unsigned release: no signature checked)" : "");
        return 0;
    }
    return Report(problems);
}

int Audit(int argc, char** argv) {
    std::vector<std::string> keys;
    for (int i = 3; i < argc; ++i) {
        if (std::string(argv[i]) != "--key" || i + 1 == argc) return Usage("audit takes RELEASE-DIR and --key PUBLIC.pem, as often as there are keys");
        keys.push_back(argv[++i]);
    }
    std::vector<std::string> lines;
    std::vector<release_tool::Problem> problems;
    const bool ok = release_tool::Audit(argv[2], keys, lines, problems);
    for (const std::string& line : lines) std::printf("%s\n", line.c_str());
    return ok ? 0 : Report(problems);
}

int Witness(int argc, char** argv) {
    release_tool::WitnessOptions o;
    for (int i = 3; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        std::string* value = option == "--key" ? &o.privatePath : option == "--name" ? &o.name : option == "--log-key" ? &o.logKeyPath
                           : option == "--state" ? &o.statePath : nullptr;
        if (!value) return Usage("unknown option \"" + option + "\" for witness");
        *value = argv[i + 1];
    }
    if (argc % 2 == 0 || o.privatePath.empty() || o.name.empty() || o.logKeyPath.empty() || o.statePath.empty() ||
        o.name.find_first_of(" +") != std::string::npos) {
        return Usage("witness takes RELEASE-DIR, --key, --name (no blank or \"+\"), --log-key and --state, each once");
    }
    std::string said;
    std::vector<release_tool::Problem> problems;
    if (!release_tool::Witness(argv[2], o, said, problems)) return Report(problems);
    std::printf("%s\n", said.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage("no command");
    const std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        Usage("", stdout);
        return 0;
    }
    if (command == "keygen" || command == "pubkey") {
        if (argc != 3) return Usage(command + " takes the private key's file, and nothing else");
        std::string pem, keyId;
        std::vector<release_tool::Problem> problems;
        const bool ok = command == "keygen" ? release_tool::Keygen(argv[2], pem, keyId, problems)
                                            : release_tool::PublicKeyOf(argv[2], pem, keyId, problems);
        if (!ok) return Report(problems);
        std::printf("%sKEYID %s\n", pem.c_str(), keyId.c_str());
        return 0;
    }
    if ((command == "audit" || command == "witness") && argc < 3) return Usage(command + " takes RELEASE-DIR");
    if (command == "audit") return Audit(argc, argv);
    if (command == "witness") return Witness(argc, argv);
    if (command != "publish" && command != "verify") return Usage("unknown command \"" + command + "\"");
    const bool publish = command == "publish";
    const int first = publish ? 4 : 3;
    if (argc < first) return Usage(publish ? "publish takes RELEASE-DIR and DESCRIPTION" : "verify takes RELEASE-DIR");
    Options options;
    if (const std::string wrong = ParseOptions(publish, first, argc, argv, options); !wrong.empty()) return Usage(wrong);
    return publish ? Publish(argv[2], argv[3], options) : Verify(argv[2], options);
}
