#include "platform/headless/headless_platform.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace kestrel::platform {
namespace {

TEST(HeadlessClock, MovesOnlyWhenAdvancedAndWraps)
{
    HeadlessPlatform headless(HeadlessPlatform::Options{.startMilliseconds = 0xFFFFFFF0u, .userDataHome = std::nullopt});
    Clock& clock = headless.GetClock();
    EXPECT_EQ(clock.Milliseconds(), 0xFFFFFFF0u);
    EXPECT_EQ(clock.Milliseconds(), 0xFFFFFFF0u);
    const std::uint64_t start = clock.HighResolutionCounter();
    headless.AdvanceClock(16);
    EXPECT_EQ(clock.Milliseconds(), 0u); // wrapped, as a 32-bit millisecond clock does
    EXPECT_EQ(static_cast<std::uint32_t>(clock.Milliseconds() - 0xFFFFFFF0u), 16u);
    clock.Sleep(1000); // sleeping lets virtual time pass at once
    EXPECT_EQ(clock.Milliseconds(), 1000u);
    EXPECT_EQ(clock.HighResolutionCounter() - start, 1016u * clock.HighResolutionFrequency() / 1000);
}

TEST(HeadlessMessageBoxes, PolicyAnswersAndEveryBoxIsLogged)
{
    HeadlessPlatform headless;
    ScopedMessageBoxHost host(headless);
    test::DebugCapture capture;

    MessageBoxRequest quit;
    quit.caption = u"終了";
    quit.text = u"終了してもよろしいですか？";
    quit.buttons = MessageBoxButtons::YesNo;
    quit.icon = MessageBoxIcon::Question;
    quit.defaultButton = 1;
    EXPECT_EQ(ShowMessageBox(quit), MessageBoxAnswer::No); // no policy: the default button

    headless.SetMessageBoxPolicy([](const MessageBoxRequest& r) {
        return r.buttons == MessageBoxButtons::YesNo ? MessageBoxAnswer::Yes : MessageBoxAnswer::Ok;
    });
    EXPECT_EQ(ShowMessageBox(quit), MessageBoxAnswer::Yes);

    ASSERT_EQ(headless.MessageBoxLog().size(), 2u);
    EXPECT_EQ(headless.MessageBoxLog()[0].answer, MessageBoxAnswer::No);
    EXPECT_EQ(headless.MessageBoxLog()[1].answer, MessageBoxAnswer::Yes);
    EXPECT_EQ(headless.MessageBoxLog()[1].request.text, u"終了してもよろしいですか？");
    ASSERT_EQ(capture.lines().size(), 2u);
    EXPECT_EQ(capture.lines()[1], u"[message box] 終了: 終了してもよろしいですか？ -> Yes");

    headless.ClearMessageBoxLog();
    EXPECT_TRUE(headless.MessageBoxLog().empty());
}

// Sets an environment variable for one scope and puts the old value back.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const char* value) : m_name(name)
    {
        if (const char* old = std::getenv(name))
            m_old = old;
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedEnvironment()
    {
        if (m_old)
            setenv(m_name.c_str(), m_old->c_str(), 1);
        else
            unsetenv(m_name.c_str());
    }

private:
    std::string m_name;
    std::optional<std::string> m_old;
};

TEST(HeadlessFolders, UserDataHomeRules)
{
    struct Case {
        const char* userDir;
        const char* xdg;
        const char* home;
        const char* expected;
    };
    const Case cases[] = {
        {"/tmp/kestrel-user", "/xdg", "/home/p", "/tmp/kestrel-user"},
        {nullptr, "/xdg", "/home/p", "/xdg"},
        {nullptr, "relative/xdg", "/home/p", "/home/p/.local/share"},
        {"", "", "/home/p", "/home/p/.local/share"},
    };
    for (const Case& c : cases) {
        ScopedEnvironment user("KESTREL_USER_DIR", c.userDir);
        ScopedEnvironment xdg("XDG_DATA_HOME", c.xdg);
        ScopedEnvironment home("HOME", c.home);
        HeadlessPlatform headless;
        EXPECT_EQ(headless.Folders().UserDataHome(), std::filesystem::path(c.expected));
    }
    HeadlessPlatform pinned(HeadlessPlatform::Options{.startMilliseconds = 0, .userDataHome = "/pinned"});
    EXPECT_EQ(pinned.Folders().UserDataHome(), std::filesystem::path("/pinned"));
}

} // namespace
} // namespace kestrel::platform

namespace kestrel::platform {
namespace {

TEST(HeadlessDisplay, KeepsAndCountsWhatIsPresented)
{
    HeadlessPlatform headless;
    // A 3 x 2 bottom-up frame: row 0 is stored last, so the pitch is negative.
    std::uint8_t pixels[2][12];
    for (int y = 0; y < 2; ++y)
        for (int i = 0; i < 12; ++i)
            pixels[y][i] = static_cast<std::uint8_t>(16 * y + i);
    const FrameView frame{pixels[1], -12, 3, 2};
    EXPECT_TRUE(headless.PresentedFrame().empty());
    headless.GetDisplay().Present(frame, {1, 0, 3, 1});
    ASSERT_EQ(headless.PresentedFrame().size(), 24u);
    EXPECT_EQ(headless.PresentedFrame()[4], 16 + 4); // (1, 0) comes from the last stored row
    EXPECT_EQ(headless.PresentedFrame()[0], 0);      // (0, 0) was not presented
    EXPECT_EQ(headless.PresentedRects(), 1u);
    EXPECT_EQ(headless.PresentedPixels(), 2u);
    headless.GetDisplay().Present(frame, {0, 0, 0, 0});
    EXPECT_EQ(headless.PresentedRects(), 1u); // nothing to show is not a present
    headless.ResetPresentCounters();
    EXPECT_EQ(headless.PresentedPixels(), 0u);
}

} // namespace
} // namespace kestrel::platform
