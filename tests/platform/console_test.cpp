// Editor choice for -i/-l, and the standard streams set up the way the watcher
// needs them.
#include "platform/console.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <ostream>
#include <string>

#include "process.h"

namespace {

// Sets or removes an environment variable for one scope, then puts it back.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
        const char* old = getenv(name);
        if (old != nullptr) old_ = old;
        if (value) {
            setenv(name, value->c_str(), 1);
        } else {
            unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (old_) {
            setenv(name_.c_str(), old_->c_str(), 1);
        } else {
            unsetenv(name_.c_str());
        }
    }

  private:
    std::string name_;
    std::optional<std::string> old_;
};

enum class Path {
    with_notepad,
    with_plain_notepad,
    with_notepad_directory,
    without_notepad,
    unset
};

struct EditorCase {
    const char* name;
    std::optional<std::string> visual;
    std::optional<std::string> editor;
    Path path;
    const char* file;
    const char* command;
};

const EditorCase kEditorCases[] = {
    {"VisualFirst", "vis-ed", "ed-ed", Path::with_notepad, "quorvale_mon.ini",
     "vis-ed quorvale_mon.ini"},
    {"VisualWithArguments", "code --wait", std::nullopt, Path::without_notepad, "mac_list.txt",
     "code --wait mac_list.txt"},
    {"EditorWhenNoVisual", std::nullopt, "ed-ed", Path::with_notepad, "mac_list.txt",
     "ed-ed mac_list.txt"},
    {"EmptyVisualCountsAsUnset", "", "ed-ed", Path::with_notepad, "mac_list.txt",
     "ed-ed mac_list.txt"},
    {"NotepadOnPath", std::nullopt, std::nullopt, Path::with_notepad, "mac_list.txt",
     "notepad.exe mac_list.txt"},
    {"EmptyVariablesFallToNotepad", "", "", Path::with_notepad, "quorvale_mon.ini",
     "notepad.exe quorvale_mon.ini"},
    {"ViWithoutNotepad", std::nullopt, std::nullopt, Path::without_notepad, "quorvale_mon.ini",
     "vi quorvale_mon.ini"},
    {"NotepadThatCannotRunIsNotTaken", std::nullopt, std::nullopt, Path::with_plain_notepad,
     "mac_list.txt", "vi mac_list.txt"},
    {"NotepadDirectoryIsNotTaken", std::nullopt, std::nullopt, Path::with_notepad_directory,
     "mac_list.txt", "vi mac_list.txt"},
    {"ViWithoutPath", std::nullopt, std::nullopt, Path::unset, "mac_list.txt", "vi mac_list.txt"},
};

// Keeps test names short in the test list.
void PrintTo(const EditorCase& c, std::ostream* os) {
    *os << c.name;
}

class EditorCommandTest : public testing::TestWithParam<EditorCase> {
  protected:
    TempDir with_notepad_;
    TempDir with_plain_notepad_;
    TempDir with_notepad_directory_;
    TempDir empty_;
};

TEST_P(EditorCommandTest, ChoosesInOrder) {
    const EditorCase& c = GetParam();
    ASSERT_TRUE(write_file(with_notepad_.file("notepad.exe"), "#!/bin/sh\n"));
    ASSERT_EQ(chmod(with_notepad_.file("notepad.exe").c_str(), 0755), 0);
    ASSERT_TRUE(write_file(with_plain_notepad_.file("notepad.exe"), "#!/bin/sh\n"));
    ASSERT_EQ(chmod(with_plain_notepad_.file("notepad.exe").c_str(), 0644), 0);
    ASSERT_EQ(mkdir(with_notepad_directory_.file("notepad.exe").c_str(), 0755), 0);

    std::optional<std::string> path;
    // The directory with notepad.exe stands between others, as on a real PATH.
    if (c.path == Path::with_notepad)
        path = empty_.path() + ":" + with_notepad_.path() + ":/usr/bin";
    if (c.path == Path::with_plain_notepad) path = with_plain_notepad_.path() + ":/usr/bin";
    if (c.path == Path::with_notepad_directory) {
        path = with_notepad_directory_.path() + ":/usr/bin";
    }
    if (c.path == Path::without_notepad) path = empty_.path() + ":/usr/bin:/bin";

    ScopedEnv visual("VISUAL", c.visual);
    ScopedEnv editor("EDITOR", c.editor);
    ScopedEnv path_env("PATH", path);
    char out[512];
    ASSERT_TRUE(editor_command(c.file, out, sizeof out));
    EXPECT_STREQ(out, c.command);
}

INSTANTIATE_TEST_SUITE_P(Table, EditorCommandTest, testing::ValuesIn(kEditorCases),
                         [](const testing::TestParamInfo<EditorCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(EditorCommand, EmptyPathEntryMeansTheWorkingDirectory) {
    TempDir dir;
    ASSERT_TRUE(write_file(dir.file("notepad.exe"), "#!/bin/sh\n"));
    ASSERT_EQ(chmod(dir.file("notepad.exe").c_str(), 0755), 0);
    char old_cwd[4096];
    ASSERT_NE(getcwd(old_cwd, sizeof old_cwd), nullptr);
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    char out[512];
    bool made;
    {
        ScopedEnv visual("VISUAL", std::nullopt);
        ScopedEnv editor("EDITOR", std::nullopt);
        ScopedEnv path("PATH", std::string("/usr/bin:"));
        made = editor_command("mac_list.txt", out, sizeof out);
    }
    ASSERT_EQ(chdir(old_cwd), 0);
    ASSERT_TRUE(made);
    EXPECT_STREQ(out, "notepad.exe mac_list.txt");
}

TEST(EditorCommand, RefusesABufferTooSmall) {
    ScopedEnv visual("VISUAL", std::string("vi"));
    char out[16];
    // "vi mac_list.txt" is 15 characters: it fits with its NUL, one byte less does not.
    EXPECT_TRUE(editor_command("mac_list.txt", out, 16));
    EXPECT_STREQ(out, "vi mac_list.txt");
    EXPECT_FALSE(editor_command("mac_list.txt", out, 15));
}

// The probe sets the streams up as the watcher does, writes, then kills
// itself: no stdio buffer is written out at exit.
TEST(ConsoleStreams, FinishedLinesReachARedirectedStdoutBeforeAKill) {
    ProcessResult r = run_process({STREAM_PROBE_PATH}, {}, std::chrono::seconds(20));
    ASSERT_TRUE(r.started);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.signal, SIGKILL);
    EXPECT_EQ(r.out, "first line\nsecond line\n");
    // Standard error is unbuffered: even the unfinished text is out.
    EXPECT_EQ(r.err, "error text without line end");
}

}  // namespace
