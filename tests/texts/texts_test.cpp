// Every Japanese console text must be the exact code page 932 bytes of its
// readable form, as iconv converts it.
#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>

#include "console_texts.h"
#include "cp932.h"

namespace {

struct TextCase {
    const char* name;
    const char* bytes;
    const char* readable;  // UTF-8
};

const TextCase kTexts[] = {
    {"learn_banner", TEXT_LEARN_BANNER, "MAC address 収集スタート.. \n"},
    {"alert_banner", TEXT_ALERT_BANNER, " 不正MACアドレス　検査 スタート.. \n"},
    {"usage_1", TEXT_USAGE_1, "Quorvale_kivarn_lite v1.0\n"},
    {"usage_2", TEXT_USAGE_2, " 使用方法　パラメータ"},
    {"usage_3", TEXT_USAGE_3, "  -m ネットワークに存在する機器をモニターする"},
    {"usage_4", TEXT_USAGE_4, "  -a 登録されていない機器が検出されるとメールで警告を出す　"},
    {"usage_5", TEXT_USAGE_5, "  -i 設定ファイルの編集　"},
    {"usage_6", TEXT_USAGE_6, "  -l 取得した機器の一覧　"},
    {"adapter_prompt", TEXT_ADAPTER_PROMPT,
     "モニターするインターフェイス番号を入力してください(1-%d):"},
    {"list_count", TEXT_LIST_COUNT, "MACアドレス(%d)を読み込みました\n\n"},
};

// Keeps test names short in the test list.
void PrintTo(const TextCase& c, std::ostream* os) {
    *os << c.name;
}

class ConsoleTextTest : public testing::TestWithParam<TextCase> {};

TEST_P(ConsoleTextTest, IsTheCp932FormOfItsReadableText) {
    const TextCase& c = GetParam();
    std::string expected;
    ASSERT_TRUE(to_cp932(c.readable, &expected)) << "iconv cannot convert " << c.readable;
    EXPECT_EQ(std::string(c.bytes), expected);
    // No byte hides behind an early NUL.
    EXPECT_EQ(strlen(c.bytes), expected.size());
}

INSTANTIATE_TEST_SUITE_P(AllTexts, ConsoleTextTest, testing::ValuesIn(kTexts),
                         [](const testing::TestParamInfo<TextCase>& info) {
                             return std::string(info.param.name);
                         });

// The conversion itself: a known pair, so that a broken iconv cannot make
// both sides of the comparison agree on wrong bytes.
TEST(Cp932Conversion, GivesTheKnownBytes) {
    std::string out;
    ASSERT_TRUE(to_cp932("モニター　検査", &out));
    EXPECT_EQ(out, "\x83\x82\x83j\x83^\x81[\x81@\x8c\x9f\x8d\xb8");
}

TEST(Cp932Conversion, RefusesTextOutsideTheCodePage) {
    std::string out;
    EXPECT_FALSE(to_cp932("\xF0\x9F\x98\x80", &out));  // an emoji
}

}  // namespace
