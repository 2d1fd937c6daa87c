// The manual page must explain every diagnostic the converter can print: each
// report (with its file, number and function) and each context line.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <string>

namespace {

std::string slurp(const std::string& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The manual's text as a reader sees it: roff escapes undone, fonts dropped.
std::string manual_text() {
    std::string text = slurp(SOURCE_DIR "/docs/tolvane.1");
    const std::pair<std::regex, const char*> escapes[] = {
        {std::regex(R"(\\f[BIRP])"), ""}, {std::regex(R"(\\&)"), ""}, {std::regex(R"(\\-)"), "-"},
        {std::regex(R"(\\\(aq)"), "'"},   {std::regex(R"(\\e)"), "\\"}};
    for (const auto& [pattern, replacement] : escapes) text = std::regex_replace(text, pattern, replacement);
    return text;
}

std::string regex_escape(const std::string& literal) {
    return std::regex_replace(literal, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)");
}

std::vector<std::smatch> matches(const std::string& text, const std::regex& pattern) {
    return {std::sregex_iterator(text.begin(), text.end(), pattern), std::sregex_iterator()};
}

TEST(Manual, ExplainsEveryReportOfTheConverter) {
    const std::string code = slurp(SOURCE_DIR "/convert/tolvane.cpp");
    const std::string manual = manual_text();
    const auto reports = matches(
        code, std::regex(R"re(fatal_(message|errno|stream)\(k_unit,\s*(\d+),\s*"(\w+)",\s*"([^"]*)")re"));
    ASSERT_GE(reports.size(), 20U);
    for (const auto& m : reports) {
        const std::string where = "tolvane.cpp:" + m[2].str() + ":" + m[3].str() + ":";
        const std::string line = m[1] == "message" ? where + " " + m[4].str() : where + m[4].str() + ": ";
        EXPECT_NE(manual.find(line), std::string::npos) << line;
    }
}

TEST(Manual, ExplainsEveryContextLine) {
    const std::string code = slurp(SOURCE_DIR "/convert/tolvane.cpp");
    const std::string manual = manual_text();
    const auto lines = matches(code, std::regex(R"re(fprintf\(stderr,\s*"([^"]*)\\n")re"));
    ASSERT_GE(lines.size(), 5U);
    for (const auto& m : lines) {
        // Each printf conversion stands for one word of the manual's example.
        const std::string pattern =
            std::regex_replace(regex_escape(m[1].str()), std::regex(R"(%[0-9]*l?[xs])"), R"(\S+)");
        EXPECT_TRUE(std::regex_search(manual, std::regex(pattern))) << m[1].str();
    }
}

TEST(Manual, ExplainsTheReportsOfEveryUtilityTheConverterCalls) {
    const std::string code = slurp(SOURCE_DIR "/convert/tolvane.cpp");
    const std::string util = slurp(SOURCE_DIR "/util/util.cpp");
    const std::string manual = manual_text();
    std::set<std::string> called;
    for (const auto& m : matches(code, std::regex(R"(\b((?:get|put)_\w+|dump)\()"))) {
        called.insert(m[1].str());
        // A seek read reports its short read under the plain member.
        const std::string plain = std::regex_replace(m[1].str(), std::regex("_seek$"), "");
        called.insert(plain);
    }
    const auto checks = matches(util, std::regex(R"re(\{"(\w+)", (\d+)\})re"));
    int explained = 0;
    for (const auto& m : checks) {
        if (!called.count(m[1].str())) continue;
        const std::string where = "util.cpp:" + m[2].str() + ":" + m[1].str() + ":";
        EXPECT_NE(manual.find(where), std::string::npos) << where;
        ++explained;
    }
    EXPECT_GE(explained, 10);
}

}  // namespace
