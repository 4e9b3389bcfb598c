#include "platform/headless/headless_platform.h"

#include "core/format.h"
#include "platform/posix/posix_services.h"

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

std::filesystem::path HeadlessPlatform::UserDataHome()
{
    return m_options.userDataHome ? *m_options.userDataHome : posix::ResolveUserDataHome();
}

} // namespace kestrel::platform
