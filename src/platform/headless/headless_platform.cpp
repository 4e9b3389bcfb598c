#include "platform/headless/headless_platform.h"

#include "core/format.h"
#include "platform/posix/posix_services.h"

#include <algorithm>
#include <cstring>

namespace kestrel::platform {

HeadlessPlatform::HeadlessPlatform(Options options)
    : m_options(std::move(options)), m_microseconds(std::uint64_t{m_options.startMilliseconds} * 1000)
{
}

void HeadlessPlatform::AdvanceClock(std::uint32_t milliseconds)
{
    m_microseconds += std::uint64_t{milliseconds} * 1000;
}

std::uint32_t HeadlessPlatform::Milliseconds()
{
    return static_cast<std::uint32_t>(m_microseconds / 1000);
}

HeadlessPlatform::MessageBoxPolicy HeadlessPlatform::AlwaysAnswer(MessageBoxAnswer answer)
{
    return [answer](const MessageBoxRequest&) { return answer; };
}

MessageBoxAnswer HeadlessPlatform::ShowMessageBox(const MessageBoxRequest& request)
{
    const MessageBoxAnswer answer = m_policy ? m_policy(request) : DefaultAnswer(request);
    DebugOutput(Format(u"[message box] %s: %s -> %s", request.caption, request.text, AnswerName(answer)));
    m_log.push_back({request, answer});
    return answer;
}

bool HeadlessPlatform::IsDebuggerAttached()
{
    return posix::IsDebuggerAttached();
}

void HeadlessPlatform::BreakIntoDebugger()
{
    posix::BreakIntoDebugger();
}

void HeadlessPlatform::Present(const FrameView& frame, const Rect& rect)
{
    if (frame.width != m_frameWidth || frame.height != m_frameHeight) {
        m_frameWidth = frame.width;
        m_frameHeight = frame.height;
        m_frame.assign(std::size_t(frame.width) * std::size_t(frame.height) * 4, 0);
    }
    const Rect r{std::max(rect.left, 0), std::max(rect.top, 0), std::min(rect.right, frame.width),
        std::min(rect.bottom, frame.height)};
    if (r.Empty())
        return;
    for (std::int32_t y = r.top; y < r.bottom; ++y) {
        const std::uint8_t* in = frame.topLeft + std::ptrdiff_t(y) * frame.pitch + std::ptrdiff_t(r.left) * 4;
        std::memcpy(&m_frame[(std::size_t(y) * std::size_t(frame.width) + std::size_t(r.left)) * 4], in,
            std::size_t(r.Width()) * 4);
    }
    ++m_presentedRects;
    m_presentedPixels += std::uint64_t(r.Width()) * std::uint64_t(r.Height());
}

std::filesystem::path HeadlessPlatform::UserDataHome()
{
    return m_options.userDataHome ? *m_options.userDataHome : posix::ResolveUserDataHome();
}

} // namespace kestrel::platform
