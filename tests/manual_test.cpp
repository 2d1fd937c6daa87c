// The manual must explain every diagnostic the converter can print: each
// report (with its file, number and function), each context line, and each
// report of a utility the converter calls.  It is checked as readers get it,
// rendered as text (the Windows package's manual, or `man`'s): each report on
// one unbroken line, as the program prints it, so that a search finds it.
#include "run_tool.hpp"

#include <gtest/gtest.h>

#include <regex>
#include <set>

namespace {

std::vector<std::smatch> matches(const std::string& text, const std::string& pattern) {
    const std::regex re(pattern);
    return {std::sregex_iterator(text.begin(), text.end(), re), std::sregex_iterator()};
}

TEST(Manual, ExplainsEveryDiagnosticOnOneLine) {
    const std::string code = read_file(SOURCE_DIR "/convert/tolvane.cpp");
    const std::string util = read_file(SOURCE_DIR "/util/util.cpp");
    const std::string manual = read_file(std::getenv("MANUAL_TEXT"));  // set by ctest

    // Reports made where the check is, and those whose number and text a
    // helper is handed (open_dump's), under the function the helper names.
    std::vector<std::string> reports;
    const auto add = [&](const auto& kind, const auto& number, const auto& fn, const auto& text) {
        const std::string where = "tolvane.cpp:" + number.str() + ":" + fn.str() + ":";
        reports.push_back(kind == "message" ? where + " " + text.str() : where + text.str() + ": ");
    };
    for (const auto& m : matches(code, R"re(fatal_(\w+)\(k_unit, (\d+), "(\w+)",\s*"([^"]*)")re"))
        add(m[1], m[2], m[3], m[4]);
    for (const auto& h : matches(code, R"re((\w+)\([^()]*int \w+,\s*const char\* \w+\)\s*\{)re"
                                       R"re([^}]*fatal_(\w+)\(k_unit, \w+, "(\w+)")re"))
        for (const auto& m : matches(code, h[1].str() + R"re(\([^;]*?\b(\d+), "([^"]*)"\))re"))
            add(h[2], m[1], h[3], m[2]);
    ASSERT_GE(reports.size(), 26U);  // 22 made in place, 4 by open_dump
    for (const std::string& r : reports) EXPECT_NE(manual.find(r), std::string::npos) << r;

    const auto context = matches(code, R"re(print_context\(\s*"([^"]*)\\n")re");
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
