// The manual page must explain every diagnostic the converter can print: each
// report (with its file, number and function), each context line, and each
// report of a utility the converter calls.
#include "run_tool.hpp"

#include <gtest/gtest.h>

#include <regex>
#include <set>

namespace {

std::vector<std::smatch> matches(const std::string& text, const char* pattern) {
    const std::regex re(pattern);
    return {std::sregex_iterator(text.begin(), text.end(), re), std::sregex_iterator()};
}

TEST(Manual, ExplainsEveryDiagnostic) {
    const std::string code = read_file(SOURCE_DIR "/convert/tolvane.cpp");
    const std::string util = read_file(SOURCE_DIR "/util/util.cpp");
    // The manual's text as a reader sees it: roff escapes undone, fonts dropped.
    std::string manual = read_file(SOURCE_DIR "/docs/tolvane.1");
    for (const auto& [escape, plain] :
         {std::pair{R"(\\f[BIRP]|\\&)", ""}, {R"(\\-)", "-"}, {R"(\\\(aq)", "'"}, {R"(\\e)", "\\"}})
        manual = std::regex_replace(manual, std::regex(escape), plain);

    const auto reports = matches(
        code, R"re(fatal_(message|errno|stream)\(k_unit,\s*(\d+),\s*"(\w+)",\s*"([^"]*)")re");
    ASSERT_GE(reports.size(), 20U);
    for (const auto& m : reports) {
        const std::string where = "tolvane.cpp:" + m[2].str() + ":" + m[3].str() + ":";
        const std::string line =
            m[1] == "message" ? where + " " + m[4].str() : where + m[4].str() + ": ";
        EXPECT_NE(manual.find(line), std::string::npos) << line;
    }

    const auto context = matches(code, R"re(fprintf\(stderr,\s*"([^"]*)\\n")re");
    ASSERT_GE(context.size(), 5U);
    for (const auto& m : context) {
        // Each printf conversion stands for one word of the manual's example.
        const std::string literal =
            std::regex_replace(m[1].str(), std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)");
        const std::string pattern =
            std::regex_replace(literal, std::regex(R"(%[0-9]*l?[xs])"), R"(\S+)");
        EXPECT_TRUE(std::regex_search(manual, std::regex(pattern))) << m[1].str();
    }

    // A seek read reports its short read under the plain member.
    std::set<std::string> called;
    for (const auto& m : matches(code, R"(\b((?:get|put)_\w+|dump)\()")) {
        called.insert(m[1].str());
        called.insert(std::regex_replace(m[1].str(), std::regex("_seek$"), ""));
    }
    int explained = 0;
    for (const auto& m : matches(util, R"re(\{"(\w+)", (\d+)\})re")) {
        if (!called.count(m[1].str())) continue;
        const std::string where = "util.cpp:" + m[2].str() + ":" + m[1].str() + ":";
        EXPECT_NE(manual.find(where), std::string::npos) << where;
        ++explained;
    }
    EXPECT_GE(explained, 10);
}

}  // namespace
