#include "core/exception.h"
#include "core/report.h"
#include "platform/headless/headless_platform.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace kestrel {
namespace {

using platform::HeadlessPlatform;

class AssertReportTest : public ::testing::Test {
protected:
    HeadlessPlatform m_platform;
    platform::ScopedMessageBoxHost m_host{m_platform};
    test::DebugCapture m_capture;
};

TEST_F(AssertReportTest, AbortThrowsWithTheReportText)
{
    m_platform.SetMessageBoxPolicy(HeadlessPlatform::AlwaysAnswer(MessageBoxAnswer::Abort));
    try {
        AssertReport("end <= top", "fixheap", 77);
        FAIL() << "Abort must throw";
    } catch (const ExceptionHandle& e) {
        EXPECT_EQ(e.Source(), u"misc");
        EXPECT_EQ(e.Message(), u"Assert(end <= top);\nFile fixheap, line 77.");
        EXPECT_FALSE(e.IsQuit());
    }
    ASSERT_EQ(m_platform.MessageBoxLog().size(), 1u);
    const MessageBoxRequest& box = m_platform.MessageBoxLog()[0].request;
    EXPECT_EQ(box.caption, u"KESTREL");
    EXPECT_EQ(box.buttons, MessageBoxButtons::AbortRetryIgnore);
    EXPECT_EQ(box.icon, MessageBoxIcon::Error);
    EXPECT_EQ(box.owner, MessageBoxOwner::MainWindow);
}

TEST_F(AssertReportTest, RetryWithoutDebuggerAndIgnoreReturn)
{
    for (MessageBoxAnswer answer : {MessageBoxAnswer::Retry, MessageBoxAnswer::Ignore}) {
        m_platform.SetMessageBoxPolicy(HeadlessPlatform::AlwaysAnswer(answer));
        EXPECT_NO_THROW(AssertReport("0", "lib/combase", 5, "extra words"));
    }
    ASSERT_EQ(m_platform.MessageBoxLog().size(), 2u);
    EXPECT_EQ(m_platform.MessageBoxLog()[1].request.text, u"Assert(0);\nFile lib/combase, line 5.  extra words");
    // Each box is logged on the debug output too.
    ASSERT_EQ(m_capture.lines().size(), 2u);
    EXPECT_EQ(m_capture.lines()[0].rfind(u"[message box] KESTREL: Assert(0);", 0), 0u);
    EXPECT_NE(m_capture.lines()[0].find(u"-> Retry"), std::u16string::npos);
}

TEST_F(AssertReportTest, MacroReportsOnlyWhenFalse)
{
    int value = 3;
    KESTREL_ASSERT(value == 3, "main");
    EXPECT_TRUE(m_platform.MessageBoxLog().empty());
    KESTREL_ASSERT(value == 4, "main");
    ASSERT_EQ(m_platform.MessageBoxLog().size(), 1u);
    EXPECT_EQ(m_platform.MessageBoxLog()[0].request.text.rfind(u"Assert(value == 4);\nFile main, line ", 0), 0u);
}

TEST(Report, DebugPrintWritesOneLineOf127UnitsAtMost)
{
    test::DebugCapture capture;
    DebugPrint(u"%s(%d): Runtime Error: %s\n", u"_start.txt", 3, u"ラベルが見つかりません");
    DebugPrint(u"%s", std::u16string(300, u'x'));
    ASSERT_EQ(capture.lines().size(), 2u);
    EXPECT_EQ(capture.lines()[0], u"_start.txt(3): Runtime Error: ラベルが見つかりません");
    EXPECT_EQ(capture.lines()[1], std::u16string(127, u'x'));
}

TEST(Report, MessageBoxPrintfShowsAnOkBox)
{
    HeadlessPlatform platform;
    platform::ScopedMessageBoxHost host(platform);
    test::DebugCapture capture;
    EXPECT_EQ(MessageBoxPrintf(MessageBoxOwner::None, u"エラー", u"Error: 無効なディレクトリ名です。(%s)", u"/x"),
        MessageBoxAnswer::Ok);
    ASSERT_EQ(platform.MessageBoxLog().size(), 1u);
    EXPECT_EQ(platform.MessageBoxLog()[0].request.caption, u"エラー");
    EXPECT_EQ(platform.MessageBoxLog()[0].request.text, u"Error: 無効なディレクトリ名です。(/x)");
    EXPECT_EQ(platform.MessageBoxLog()[0].request.buttons, MessageBoxButtons::Ok);
}

TEST(Report, WithoutHostBoxesTakeTheirDefaultButton)
{
    test::DebugCapture capture;
    MessageBoxRequest request;
    request.caption = u"終了";
    request.text = u"終了してもよろしいですか？";
    request.buttons = MessageBoxButtons::YesNo;
    request.defaultButton = 1;
    EXPECT_EQ(ShowMessageBox(request), MessageBoxAnswer::No);
    // An assertion without a host continues like Ignore.
    EXPECT_NO_THROW(AssertReport("0", "misc", 1));
    EXPECT_EQ(capture.lines().size(), 2u);
}

} // namespace
} // namespace kestrel
