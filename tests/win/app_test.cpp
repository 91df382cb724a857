// The application object's pieces, in process under Wine.
#include <gtest/gtest.h>

#include <map>

#include "app/UpdaterApp.h"
#include "update/update_run.h"
#include "app/UpdaterCommandLineInfo.h"
#include "build_config.h"

namespace {

TEST(SetServerUrl, SplitsHostAndPath) {
    struct Case {
        const char* url;
        const char* host;
        const char* path;
    };
    const Case cases[] = {
        {"http://host/a/b/", "host", "/a/b"},   {"http://host/a//", "host", "/a/"}, {"host", "", ""},
        {"/a", "", ""},                         {"", "", ""},                       {"HTTP://host/x", "HTTP:", "//host/x"},
        {"http://h/marrowtide/", "h", "/marrowtide"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        CUpdaterApp app;
        app.m_strServerHost = "stale";  // every call sets both members, also to empty
        app.m_strServerPath = "stale";
        app.SetServerUrl(c.url);
        EXPECT_EQ(app.GetServerHost(), c.host);
        EXPECT_EQ(app.GetServerPath(), c.path);
    }
}

TEST(SetServerUrl, BuiltInBaseUrlGivesTheBuildHostAndMarrowtide) {
    CUpdaterApp app;
    app.SetServerUrl(BuiltInBaseUrl());
    EXPECT_EQ(app.GetServerHost(), UPDATER_SERVER_HOST);
    EXPECT_EQ(app.GetServerPath(), "/marrowtide");
}

// Feeds arguments the way the framework does: marks removed, the last one flagged.
std::map<std::string, std::string> Options(const std::vector<std::pair<std::string, bool>>& args,
                                           CString* pendingOut = nullptr) {
    CUpdaterCommandLineInfo info;
    for (std::size_t i = 0; i < args.size(); ++i) {
        info.ParseParam(args[i].first.c_str(), args[i].second, i + 1 == args.size());
    }
    std::map<std::string, std::string> out;
    for (const auto& kv : info.m_mapOptions.Entries()) out[kv.first.str()] = kv.second.str();
    if (pendingOut) *pendingOut = info.m_strLastOption;
    return out;
}

TEST(CommandLineInfo, RecordsSwitchesAndTheirValues) {
    using Args = std::vector<std::pair<std::string, bool>>;
    using Map = std::map<std::string, std::string>;
    struct Case {
        const char* name;
        Args args;
        Map expected;
        const char* pending;
    };
    const Case cases[] = {
        {"empty", {}, {}, ""},
        {"switch alone", {{"x", true}}, {{"x", "TRUE"}}, "x"},
        {"switch and value", {{"x", true}, {"v", false}}, {{"x", "v"}}, ""},
        {"two switches, value to the last", {{"x", true}, {"y", true}, {"v", false}}, {{"x", "TRUE"}, {"y", "v"}}, ""},
        {"stray word is not recorded", {{"word", false}}, {}, ""},
        {"second plain word after a value", {{"x", true}, {"v", false}, {"w", false}}, {{"x", "v"}}, ""},
        {"keys keep their case", {{"X", true}, {"x", true}}, {{"X", "TRUE"}, {"x", "TRUE"}}, "x"},
        {"later value wins", {{"x", true}, {"1", false}, {"x", true}, {"2", false}}, {{"x", "2"}}, ""},
        {"switch again without value", {{"x", true}, {"1", false}, {"x", true}}, {{"x", "TRUE"}}, "x"},
        {"korean", {{"경로", true}, {"값", false}}, {{"경로", "값"}}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CString pending;
        EXPECT_EQ(Options(c.args, &pending), c.expected);
        EXPECT_EQ(pending, c.pending);
    }
}

TEST(CommandLineInfo, FrameworkRecordsTheFirstPlainArgumentAsFileName) {
    CUpdaterCommandLineInfo info;
    info.ParseParam("a.txt", FALSE, FALSE);
    info.ParseParam("b.txt", FALSE, TRUE);
    EXPECT_EQ(info.m_strFileName, "a.txt");
    EXPECT_EQ(info.m_mapOptions.GetCount(), 0);
}

}  // namespace
