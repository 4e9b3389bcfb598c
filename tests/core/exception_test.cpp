#include "core/exception.h"

#include <gtest/gtest.h>

#include <type_traits>

namespace kestrel {
namespace {

static_assert(std::is_nothrow_copy_constructible_v<ExceptionHandle>);
static_assert(std::is_nothrow_copy_constructible_v<ScriptError2>);

TEST(ExceptionHandle, ThrowHelperFormatsAndFillsTheSite)
{
    int line = 0;
    try {
        line = __LINE__ + 1;
        ThrowException(u"script/scr_gui", u"Script: file not found '%s'", u"_start.txt");
    } catch (const ExceptionHandle& e) {
        EXPECT_EQ(e.Source(), u"script/scr_gui");
        EXPECT_EQ(e.Line(), line);
        EXPECT_EQ(e.Message(), u"Script: file not found '_start.txt'");
        EXPECT_EQ(e.Type(), 0);
        EXPECT_EQ(e.Ptr(), nullptr);
        EXPECT_FALSE(e.IsQuit());
        return;
    }
    FAIL() << "nothing was thrown";
}

TEST(ExceptionHandle, QuitTypeAndTruncation)
{
    try {
        ThrowExceptionOfType(ExceptionHandle::kTypeQuit, u"main", u"Quit");
    } catch (const ExceptionHandle& e) {
        EXPECT_TRUE(e.IsQuit());
        EXPECT_EQ(e.Message(), u"Quit");
    }
    const std::u16string longText(400, u'あ');
    const ExceptionHandle e(longText, 7, longText, 3, &longText);
    EXPECT_EQ(e.Source().size(), 255u);
    EXPECT_EQ(e.Message().size(), 255u);
    EXPECT_EQ(e.Type(), 3);
    EXPECT_EQ(e.Ptr(), &longText);
    // The copy is the same object again.
    const ExceptionHandle copy = e;
    EXPECT_EQ(copy.Message(), e.Message());
}

TEST(ScriptErrors, CodeTexts)
{
    EXPECT_EQ(ScriptErrorText(0), u"0000: None");
    EXPECT_EQ(ScriptErrorText(4), u"0004: ラベルが定義されていません");
    EXPECT_EQ(ScriptErrorText(8), u"0008: 対応する WHILE / SWITCH コマンドがありません");
    EXPECT_EQ(ScriptErrorText(15), u"0015: 文字列以外で全角文字が使われています");
    EXPECT_EQ(ScriptErrorText(16), u"");
    EXPECT_EQ(ScriptErrorText(-1), u"");
    ScriptError error(10, 5);
    error.SetLine(42);
    EXPECT_EQ(error.Line(), 42);
    EXPECT_EQ(error.Text(), u"0005: 使われている変数は存在しません");
}

TEST(ScriptErrors, MessageErrorHoldsUpTo1023Units)
{
    const ScriptError2 shortError(3, u"コマンド名が違います。");
    EXPECT_EQ(shortError.Line(), 3);
    EXPECT_EQ(shortError.Message(), u"コマンド名が違います。");
    const ScriptError2 longError(1, std::u16string(2000, u'x'));
    EXPECT_EQ(longError.Message().size(), 1023u);
}

TEST(ScriptException, CarriesItsCode)
{
    try {
        throw ScriptException(ScriptException::LoadSlot);
    } catch (const ScriptException& e) {
        EXPECT_EQ(e.Code(), 1);
    }
}

} // namespace
} // namespace kestrel
