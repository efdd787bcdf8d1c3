// The command line of the built program, run as a child process.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "cp932.h"
#include "process.h"

namespace {

const std::string kProgram = QUORVALE_MON_PATH;

// The six usage lines, each written through "%s\n".
std::string usage_text() {
    const char* lines[] = {
        "Quorvale_kivarn_lite v1.0\n",
        " 使用方法　パラメータ",
        "  -m ネットワークに存在する機器をモニターする",
        "  -a 登録されていない機器が検出されるとメールで警告を出す　",
        "  -i 設定ファイルの編集　",
        "  -l 取得した機器の一覧　",
    };
    std::string text;
    for (const char* line : lines) text += cp932(line) + "\n";
    return text;
}

std::vector<std::string> dir_entries(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        names.push_back(e.path().filename().string());
    }
    return names;
}

struct BadArgs {
    const char* name;
    std::vector<std::string> args;
};

const BadArgs kBadArgs[] = {
    {"NoArgument", {}},           {"LearnThenAlert", {"-m", "-a"}},
    {"LearnTwice", {"-m", "-m"}}, {"EditTwoFiles", {"-i", "-l"}},
    {"UpperCaseLearn", {"-M"}},   {"UpperCaseAlert", {"-A"}},
    {"TrailingSpace", {"-m "}},   {"LeadingSpace", {" -m"}},
    {"MissingHyphen", {"m"}},     {"FurtherCharacters", {"-mx"}},
    {"DoubleHyphen", {"--m"}},    {"HyphenOnly", {"-"}},
    {"EmptyArgument", {""}},      {"OtherOption", {"-h"}},
};

// Keep test names short in the test list.
void PrintTo(const BadArgs& c, std::ostream* os) {
    *os << c.name;
}

class BadArgumentsTest : public testing::TestWithParam<BadArgs> {};

TEST_P(BadArgumentsTest, GiveTheUsageTextAndStatus8) {
    TempDir cwd;
    std::vector<std::string> argv = {kProgram};
    for (const auto& a : GetParam().args) argv.push_back(a);
    // An editor that would leave a trace, should an edit road be taken by mistake.
    ProcessOptions options;
    options.cwd = cwd.path();
    options.env = {"VISUAL=touch"};
    ProcessResult r = run_process(argv, options, std::chrono::seconds(20));
    ASSERT_TRUE(r.exited) << "signal " << r.signal << (r.timed_out ? ", timed out" : "");
    EXPECT_EQ(r.exit_status, 8);
    EXPECT_EQ(r.err, usage_text());
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(dir_entries(cwd.path()).empty());
}

INSTANTIATE_TEST_SUITE_P(Table, BadArgumentsTest, testing::ValuesIn(kBadArgs),
                         [](const testing::TestParamInfo<BadArgs>& info) {
                             return std::string(info.param.name);
                         });

TEST(UsageText, HasTheExpectedShape) {
    std::string text = usage_text();
    // The banner is followed by an empty line; lines 4 to 6 end in an
    // ideographic space (0x81 0x40) before the line end.
    EXPECT_EQ(text.rfind("Quorvale_kivarn_lite v1.0\n\n ", 0), 0u);
    EXPECT_NE(text.find("\x81@\n  -i "), std::string::npos);
    EXPECT_NE(text.find("\x81@\n  -l "), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 3), "\x81@\n");
}

// A stand-in editor that records its arguments and working directory.
class EditOptionTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(tools_.path().empty());
        ASSERT_FALSE(cwd_.path().empty());
        // The record is written last, after a pause, so that a program that
        // did not wait for its editor ends before the record exists. The
        // editor lets go of the test's pipes at once: only the program's own
        // end then tells the test that the run is over.
        std::string script =
            "#!/bin/sh\n"
            "exec </dev/null >/dev/null 2>&1\n"
            "sleep 0.3\n"
            "pwd -P > '" +
            tools_.file("cwd.tmp") +
            "'\n"
            "printf '%s\\n' \"$@\" > '" +
            tools_.file("args.tmp") +
            "'\n"
            "mv '" +
            tools_.file("cwd.tmp") + "' '" + tools_.file("cwd") +
            "'\n"
            "mv '" +
            tools_.file("args.tmp") + "' '" + tools_.file("args") +
            "'\n"
            "exit \"${EDITOR_STATUS:-0}\"\n";
        for (const char* name : {"editor", "notepad.exe"}) {
            ASSERT_TRUE(write_file(tools_.file(name), script));
            ASSERT_EQ(chmod(tools_.file(name).c_str(), 0755), 0);
        }
    }

    ProcessResult run(const std::string& option, const ProcessOptions& base) {
        ProcessOptions options = base;
        options.cwd = cwd_.path();
        return run_process({kProgram, option}, options, std::chrono::seconds(30));
    }

    std::string real_cwd() const { return std::filesystem::canonical(cwd_.path()).string(); }

    TempDir tools_;
    TempDir cwd_;
};

struct EditCase {
    const char* name;
    const char* option;
    const char* file;
    const char* via;  // "VISUAL", "EDITOR" or "PATH"
};

const EditCase kEditCases[] = {
    {"SettingsThroughVisual", "-i", "quorvale_mon.ini", "VISUAL"},
    {"ListThroughVisual", "-l", "mac_list.txt", "VISUAL"},
    {"SettingsThroughEditor", "-i", "quorvale_mon.ini", "EDITOR"},
    {"ListThroughEditor", "-l", "mac_list.txt", "EDITOR"},
    {"SettingsThroughNotepadOnPath", "-i", "quorvale_mon.ini", "PATH"},
    {"ListThroughNotepadOnPath", "-l", "mac_list.txt", "PATH"},
};

void PrintTo(const EditCase& c, std::ostream* os) {
    *os << c.name;
}

class EditRoadTest : public EditOptionTest, public testing::WithParamInterface<EditCase> {};

TEST_P(EditRoadTest, RunsTheEditorOnTheRelativeFileAndEndsWith0) {
    const EditCase& c = GetParam();
    ProcessOptions options;
    std::string via = c.via;
    if (via == "PATH") {
        options.unset_env = {"VISUAL", "EDITOR"};
        options.env = {"PATH=" + tools_.path() + ":" + std::string(getenv("PATH"))};
    } else {
        if (via == "EDITOR") options.unset_env = {"VISUAL"};
        options.env = {via + "=" + tools_.file("editor")};
    }
    ProcessResult r = run(c.option, options);
    ASSERT_TRUE(r.exited) << "signal " << r.signal << (r.timed_out ? ", timed out" : "");
    EXPECT_EQ(r.exit_status, 0);
    // No banner, no usage, nothing at all from the program.
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "");
    // The editor had ended when the program did.
    ASSERT_TRUE(file_exists(tools_.file("args")));
    EXPECT_EQ(read_file(tools_.file("args")), std::string(c.file) + "\n");
    EXPECT_EQ(read_file(tools_.file("cwd")), real_cwd() + "\n");
    // The program neither reads nor creates the file itself.
    EXPECT_TRUE(dir_entries(cwd_.path()).empty());
}

INSTANTIATE_TEST_SUITE_P(Table, EditRoadTest, testing::ValuesIn(kEditCases),
                         [](const testing::TestParamInfo<EditCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(EditOptionTest, AFailingEditorStillEndsWith0) {
    for (const char* option : {"-i", "-l"}) {
        ProcessOptions options;
        options.env = {"VISUAL=" + tools_.file("editor"), "EDITOR_STATUS=3"};
        ProcessResult r = run(option, options);
        ASSERT_TRUE(r.exited) << option;
        EXPECT_EQ(r.exit_status, 0) << option;
        EXPECT_EQ(r.err, "") << option;
        EXPECT_EQ(r.out, "") << option;
        EXPECT_TRUE(file_exists(tools_.file("args"))) << option;
        std::filesystem::remove(tools_.file("args"));
    }
}

TEST_F(EditOptionTest, AMissingEditorStillEndsWith0) {
    for (const char* option : {"-i", "-l"}) {
        ProcessOptions options;
        options.env = {"VISUAL=" + tools_.file("no-such-editor")};
        ProcessResult r = run(option, options);
        ASSERT_TRUE(r.exited) << option;
        EXPECT_EQ(r.exit_status, 0) << option;
        EXPECT_EQ(r.out, "") << option;
        // Only the shell's own complaint may appear: the program adds nothing.
        EXPECT_NE(r.err.find("no-such-editor"), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("Quorvale"), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("MAC"), std::string::npos) << r.err;
        EXPECT_TRUE(dir_entries(cwd_.path()).empty()) << option;
    }
}

// The watching options: the banner, an empty line, then straight on to the
// adapter list (no list or settings file here); end of input at the prompt is
// out of range.
struct BannerCase {
    const char* option;
    const char* banner;
};

void PrintTo(const BannerCase& c, std::ostream* os) {
    *os << c.option;
}

class BannerTest : public testing::TestWithParam<BannerCase> {};

TEST_P(BannerTest, ComesFirstFollowedByAnEmptyLine) {
    TempDir cwd;
    ProcessOptions options;
    options.cwd = cwd.path();
    ProcessResult r = run_process({kProgram, GetParam().option}, options, std::chrono::seconds(30));
    ASSERT_TRUE(r.exited) << "signal " << r.signal << (r.timed_out ? ", timed out" : "");
    std::string start = cp932(GetParam().banner) + "\n" + "1. ";
    EXPECT_EQ(r.err.substr(0, start.size()), start);
    const std::string out_of_range = "\nInterface number out of range.\n\n";
    ASSERT_GE(r.err.size(), out_of_range.size());
    EXPECT_EQ(r.err.substr(r.err.size() - out_of_range.size()), out_of_range);
    EXPECT_EQ(r.exit_status, 255);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(dir_entries(cwd.path()).empty());
}

INSTANTIATE_TEST_SUITE_P(Banners, BannerTest,
                         testing::Values(BannerCase{"-m", "MAC address 収集スタート.. \n"},
                                         BannerCase{"-a", " 不正MACアドレス　検査 スタート.. \n"}),
                         [](const testing::TestParamInfo<BannerCase>& info) {
                             return std::string(info.param.option[1] == 'm' ? "Learn" : "Alert");
                         });

}  // namespace
