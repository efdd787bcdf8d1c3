// The text-file layer on real files in a temporary directory: Windows
// text-mode rules on Linux.
#include "platform/text_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "process.h"

namespace {

class TextFileTest : public testing::Test {
  protected:
    std::string path(const std::string& name) const { return dir_.file(name); }

    // Every piece text_gets gives with a buffer of `size` bytes, to the end.
    std::vector<std::string> read_pieces(const std::string& content, int size = 128) {
        EXPECT_TRUE(write_file(path("in.txt"), content));
        text_file f;
        std::vector<std::string> pieces;
        if (!text_open(&f, path("in.txt").c_str(), "r")) {
            ADD_FAILURE() << "cannot open in.txt";
            return pieces;
        }
        std::vector<char> buf(static_cast<size_t>(size));
        while (text_gets(buf.data(), size, &f) != nullptr) pieces.emplace_back(buf.data());
        // The end stays the end.
        EXPECT_EQ(text_gets(buf.data(), size, &f), nullptr);
        EXPECT_EQ(text_close(&f), 0);
        return pieces;
    }

    // Opens `name` in mode "a", writes each text through "%s", closes.
    void append(const std::string& name, const std::vector<std::string>& texts) {
        text_file f;
        ASSERT_TRUE(text_open(&f, path(name).c_str(), "a"));
        for (const auto& t : texts) ASSERT_TRUE(text_printf(&f, "%s", t.c_str()));
        ASSERT_EQ(text_close(&f), 0);
    }

    TempDir dir_;
};

using Pieces = std::vector<std::string>;

TEST_F(TextFileTest, WritingTurnsEachLfIntoCrLf) {
    append("out.txt", {"02:00:00:00:00:01\n", "a\n\nb", "\n"});
    EXPECT_EQ(read_file(path("out.txt")), "02:00:00:00:00:01\r\na\r\n\r\nb\r\n");
}

TEST_F(TextFileTest, PrintfFormatsItsArguments) {
    text_file f;
    ASSERT_TRUE(text_open(&f, path("out.txt").c_str(), "a"));
    ASSERT_TRUE(text_printf(&f, "%s %s\n", "02:00:00:00:00:01", "10.0.0.1"));
    ASSERT_TRUE(text_printf(&f, "(%03d)\n", 7));
    ASSERT_EQ(text_close(&f), 0);
    EXPECT_EQ(read_file(path("out.txt")), "02:00:00:00:00:01 10.0.0.1\r\n(007)\r\n");
}

TEST_F(TextFileTest, ReadingDropsEveryCrWhereverItStands) {
    EXPECT_EQ(read_pieces("\rab\r\ncd\n\r\re\rf\r\r\ng"), (Pieces{"ab\n", "cd\n", "ef\n", "g"}));
    EXPECT_EQ(read_pieces("\r\r\r"), Pieces{});
}

TEST_F(TextFileTest, CrLfAndLfLineEndsReadAlike) {
    EXPECT_EQ(read_pieces("one\r\ntwo\nthree\r\n"), (Pieces{"one\n", "two\n", "three\n"}));
}

TEST_F(TextFileTest, CtrlZEndsTheFile) {
    EXPECT_EQ(read_pieces("ab\ncd\x1a"
                          "ef\ngh\n"),
              (Pieces{"ab\n", "cd"}));
    EXPECT_EQ(read_pieces("\x1a"
                          "ab\n"),
              Pieces{});
    EXPECT_EQ(read_pieces("ab\r\n\x1a\r\n"), Pieces{"ab\n"});
}

TEST_F(TextFileTest, EmptyFileGivesNothing) {
    EXPECT_EQ(read_pieces(""), Pieces{});
}

TEST_F(TextFileTest, ReadsAreFgetsStylePiecesOfAtMost127Characters) {
    std::string long_line(300, 'x');
    EXPECT_EQ(read_pieces(long_line + "\r\nend\r\n"),
              (Pieces{std::string(127, 'x'), std::string(127, 'x'), std::string(46, 'x') + "\n",
                      "end\n"}));
    // Exactly 127 characters fill the buffer; the line end comes as a piece of its own.
    EXPECT_EQ(read_pieces(std::string(127, 'y') + "\r\n"), (Pieces{std::string(127, 'y'), "\n"}));
    EXPECT_EQ(read_pieces(std::string(126, 'z') + "\r\n"), Pieces{std::string(126, 'z') + "\n"});
}

TEST_F(TextFileTest, DroppedCrsDoNotCountTowardsAPiece) {
    std::string line;
    for (int i = 0; i < 127; i++) line += "\rq";
    EXPECT_EQ(read_pieces(line + "\r\n"), (Pieces{std::string(127, 'q'), "\n"}));
}

TEST_F(TextFileTest, LinesCrossingTheReadBlockStayWhole) {
    // A CR LF pair split across the layer's 512-byte reads, among many lines.
    std::string content;
    std::vector<std::string> expected;
    for (int i = 0; content.size() < 2000; i++) {
        std::string value =
            "line" + std::to_string(i) + std::string(static_cast<size_t>(i % 40), 'v');
        content += value + "\r\n";
        expected.push_back(value + "\n");
    }
    EXPECT_EQ(read_pieces(content), expected);
    // CR and LF both at the end of the first block.
    std::string split = std::string(510, 'a') + "\r\nb\r\n";
    EXPECT_EQ(read_pieces(split, 1024), (Pieces{std::string(510, 'a') + "\n", "b\n"}));
    // CR ends the first block, LF starts the next.
    split = std::string(511, 'a') + "\r\nb\r\n";
    EXPECT_EQ(read_pieces(split, 1024), (Pieces{std::string(511, 'a') + "\n", "b\n"}));
}

TEST_F(TextFileTest, SkipLineDropsTheRestOfTheLine) {
    ASSERT_TRUE(write_file(path("in.txt"), std::string(200, 'x') + "\r\nnext\r\n"));
    text_file f;
    ASSERT_TRUE(text_open(&f, path("in.txt").c_str(), "r"));
    char buf[128];
    ASSERT_NE(text_gets(buf, sizeof buf, &f), nullptr);
    text_skip_line(&f);
    ASSERT_NE(text_gets(buf, sizeof buf, &f), nullptr);
    EXPECT_STREQ(buf, "next\n");
    EXPECT_EQ(text_close(&f), 0);
}

TEST_F(TextFileTest, StripLineEndRemovesOnlyAnEndingLf) {
    char a[] = "abc\n";
    strip_line_end(a);
    EXPECT_STREQ(a, "abc");
    char b[] = "abc";
    strip_line_end(b);
    EXPECT_STREQ(b, "abc");
    char c[] = "";
    strip_line_end(c);
    EXPECT_STREQ(c, "");
    char d[] = "\n";
    strip_line_end(d);
    EXPECT_STREQ(d, "");
}

TEST_F(TextFileTest, ReadModeNeedsAnExistingFile) {
    text_file f;
    EXPECT_FALSE(text_open(&f, path("missing.txt").c_str(), "r"));
    EXPECT_FALSE(file_exists(path("missing.txt")));
}

TEST_F(TextFileTest, ADirectoryCannotBeOpened) {
    ASSERT_EQ(mkdir(path("sub").c_str(), 0755), 0);
    text_file f;
    EXPECT_FALSE(text_open(&f, path("sub").c_str(), "r"));
    EXPECT_FALSE(text_open(&f, path("sub").c_str(), "a"));
}

TEST_F(TextFileTest, AppendModeCreatesAMissingFile) {
    text_file f;
    ASSERT_TRUE(text_open(&f, path("new.txt").c_str(), "a"));
    EXPECT_EQ(text_close(&f), 0);
    EXPECT_TRUE(file_exists(path("new.txt")));
    EXPECT_EQ(read_file(path("new.txt")), "");
}

TEST_F(TextFileTest, AppendModeInAMissingDirectoryFails) {
    text_file f;
    EXPECT_FALSE(text_open(&f, path("no/such/dir.txt").c_str(), "a"));
}

TEST_F(TextFileTest, AppendModeNeverTruncatesAndWritesAtTheEnd) {
    ASSERT_TRUE(write_file(path("list.txt"), "AA\r\nBB\n"));
    text_file f;
    ASSERT_TRUE(text_open(&f, path("list.txt").c_str(), "a"));
    ASSERT_EQ(text_close(&f), 0);
    EXPECT_EQ(read_file(path("list.txt")), "AA\r\nBB\n");
    append("list.txt", {"CC\n"});
    append("list.txt", {"DD\n"});
    EXPECT_EQ(read_file(path("list.txt")), "AA\r\nBB\nCC\r\nDD\r\n");
}

TEST_F(TextFileTest, AppendEndsAnUnterminatedLastLineOnceBeforeTheFirstWrite) {
    ASSERT_TRUE(write_file(path("list.txt"), "AA\r\nBB"));
    // Two writes in one opening: the line end goes in before the first only,
    // even though the first leaves its own line open.
    append("list.txt", {"CC", "DD\n"});
    EXPECT_EQ(read_file(path("list.txt")), "AA\r\nBB\r\nCCDD\r\n");
}

TEST_F(TextFileTest, AppendLeavesATerminatedOrEmptyFileAsItIs) {
    struct Case {
        std::string before;
        std::string after;
    };
    const Case cases[] = {
        {"", "CC\r\n"},
        {"AA\r\n", "AA\r\nCC\r\n"},
        {"AA\n", "AA\nCC\r\n"},
        // A lone CR is no line end: the line is ended as usual.
        {"AA\r", "AA\r\r\nCC\r\n"},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(write_file(path("f.txt"), c.before));
        append("f.txt", {"CC\n"});
        EXPECT_EQ(read_file(path("f.txt")), c.after)
            << "before: " << testing::PrintToString(c.before);
    }
}

TEST_F(TextFileTest, AppendWithoutWritingChangesNothing) {
    ASSERT_TRUE(write_file(path("list.txt"), "AA\r\nBB"));
    text_file f;
    ASSERT_TRUE(text_open(&f, path("list.txt").c_str(), "a"));
    ASSERT_EQ(text_close(&f), 0);
    EXPECT_EQ(read_file(path("list.txt")), "AA\r\nBB");
}

TEST_F(TextFileTest, AppendedFileReadsBackAsWritten) {
    ASSERT_TRUE(write_file(path("list.txt"), "AA"));
    append("list.txt", {"BB\n", "CC\n"});
    EXPECT_EQ(read_pieces(read_file(path("list.txt"))), (Pieces{"AA\n", "BB\n", "CC\n"}));
}

}  // namespace
