// The headless back-end: no window, no sound card, nothing waits on the wall
// clock.
//
// Implemented:
//  - clocks: a virtual clock that only moves when the caller advances it
//    (AdvanceClock) or something sleeps; runs are deterministic;
//  - message boxes: logged to the debug output and kept in a list, answered
//    by a policy the test sets (by default each box's default button);
//  - the user data home (KESTREL_USER_DIR, then the XDG rules) and the
//    debugger hooks of the assertion report;
//  - the display: presented rectangles are copied into a kept frame and
//    counted (rectangles and pixels), so tests see what reached the screen.
// Not yet: events and scripted input, the audio device.
#pragma once

#include "platform/platform.h"

#include <functional>
#include <optional>
#include <vector>

namespace kestrel::platform {

class HeadlessPlatform final : public Platform,
                               private Clock,
                               private MessageBoxHost,
                               private UserFolders,
                               private Display {
public:
    struct Options {
        std::uint32_t startMilliseconds = 0;
        // When set, used in place of the environment's user data home.
        std::optional<std::filesystem::path> userDataHome;
    };

    using MessageBoxPolicy = std::function<MessageBoxAnswer(const MessageBoxRequest&)>;

    struct MessageBoxRecord {
        MessageBoxRequest request;
        MessageBoxAnswer answer;
    };

    HeadlessPlatform() : HeadlessPlatform(Options{}) {}
    explicit HeadlessPlatform(Options options);

    std::string_view Name() const override { return "headless"; }
    Clock& GetClock() override { return *this; }
    MessageBoxHost& MessageBoxes() override { return *this; }
    UserFolders& Folders() override { return *this; }
    Display& GetDisplay() override { return *this; }

    // Moves the virtual clock on.
    void AdvanceClock(std::uint32_t milliseconds);

    void SetMessageBoxPolicy(MessageBoxPolicy policy) { m_policy = std::move(policy); }
    // A policy that gives the same answer to every box.
    static MessageBoxPolicy AlwaysAnswer(MessageBoxAnswer answer);
    const std::vector<MessageBoxRecord>& MessageBoxLog() const { return m_log; }
    void ClearMessageBoxLog() { m_log.clear(); }

    // The last presented pixels, top-down, 4 bytes a pixel, width x height
    // of the largest frame presented (empty before the first present).
    const std::vector<std::uint8_t>& PresentedFrame() const { return m_frame; }
    std::int32_t FrameWidth() const { return m_frameWidth; }
    std::int32_t FrameHeight() const { return m_frameHeight; }
    std::uint64_t PresentedRects() const { return m_presentedRects; }
    std::uint64_t PresentedPixels() const { return m_presentedPixels; }
    void ResetPresentCounters() { m_presentedRects = m_presentedPixels = 0; }

private:
    // Clock
    std::uint32_t Milliseconds() override;
    std::uint64_t HighResolutionCounter() override { return m_microseconds; }
    std::uint64_t HighResolutionFrequency() override { return 1'000'000; }
    void Sleep(std::uint32_t milliseconds) override { AdvanceClock(milliseconds); }

    // MessageBoxHost
    MessageBoxAnswer ShowMessageBox(const MessageBoxRequest& request) override;
    bool IsDebuggerAttached() override;
    void BreakIntoDebugger() override;

    // UserFolders
    std::filesystem::path UserDataHome() override;

    // Display
    void Present(const FrameView& frame, const Rect& rect) override;

    Options m_options;
    std::uint64_t m_microseconds = 0;
    MessageBoxPolicy m_policy;
    std::vector<MessageBoxRecord> m_log;
    std::vector<std::uint8_t> m_frame;
    std::int32_t m_frameWidth = 0;
    std::int32_t m_frameHeight = 0;
    std::uint64_t m_presentedRects = 0;
    std::uint64_t m_presentedPixels = 0;
};

} // namespace kestrel::platform
