#include "core/report.h"

#include "core/exception.h"
#include "core/text.h"

#include <atomic>
#include <cstdio>
#include <mutex>

namespace kestrel {

namespace {

std::atomic<MessageBoxHost*> g_messageBoxHost{nullptr};

std::mutex& DebugLock()
{
    static std::mutex lock;
    return lock;
}

DebugSink& CurrentSink()
{
    static DebugSink sink;
    return sink;
}

std::size_t ButtonCount(MessageBoxButtons buttons)
{
    switch (buttons) {
    case MessageBoxButtons::Ok:
        return 1;
    case MessageBoxButtons::OkCancel:
    case MessageBoxButtons::YesNo:
        return 2;
    case MessageBoxButtons::YesNoCancel:
    case MessageBoxButtons::AbortRetryIgnore:
        return 3;
    }
    return 1;
}

MessageBoxAnswer ButtonAnswer(MessageBoxButtons buttons, std::size_t index)
{
    static constexpr MessageBoxAnswer kOk[] = {MessageBoxAnswer::Ok};
    static constexpr MessageBoxAnswer kOkCancel[] = {MessageBoxAnswer::Ok, MessageBoxAnswer::Cancel};
    static constexpr MessageBoxAnswer kYesNo[] = {MessageBoxAnswer::Yes, MessageBoxAnswer::No};
    static constexpr MessageBoxAnswer kYesNoCancel[] = {
        MessageBoxAnswer::Yes, MessageBoxAnswer::No, MessageBoxAnswer::Cancel};
    static constexpr MessageBoxAnswer kAbortRetryIgnore[] = {
        MessageBoxAnswer::Abort, MessageBoxAnswer::Retry, MessageBoxAnswer::Ignore};
    switch (buttons) {
    case MessageBoxButtons::Ok:
        return kOk[0];
    case MessageBoxButtons::OkCancel:
        return kOkCancel[index];
    case MessageBoxButtons::YesNo:
        return kYesNo[index];
    case MessageBoxButtons::YesNoCancel:
        return kYesNoCancel[index];
    case MessageBoxButtons::AbortRetryIgnore:
        return kAbortRetryIgnore[index];
    }
    return MessageBoxAnswer::Ok;
}

} // namespace

MessageBoxAnswer DefaultAnswer(const MessageBoxRequest& request)
{
    const std::size_t count = ButtonCount(request.buttons);
    const std::size_t index = request.defaultButton >= 0 ? static_cast<std::size_t>(request.defaultButton) : 0;
    return ButtonAnswer(request.buttons, index < count ? index : 0);
}

std::u16string_view AnswerName(MessageBoxAnswer answer)
{
    switch (answer) {
    case MessageBoxAnswer::Ok:
        return u"OK";
    case MessageBoxAnswer::Cancel:
        return u"Cancel";
    case MessageBoxAnswer::Yes:
        return u"Yes";
    case MessageBoxAnswer::No:
        return u"No";
    case MessageBoxAnswer::Abort:
        return u"Abort";
    case MessageBoxAnswer::Retry:
        return u"Retry";
    case MessageBoxAnswer::Ignore:
        return u"Ignore";
    }
    return u"?";
}

MessageBoxHost* SetMessageBoxHost(MessageBoxHost* host)
{
    return g_messageBoxHost.exchange(host);
}

MessageBoxAnswer ShowMessageBox(const MessageBoxRequest& request)
{
    if (MessageBoxHost* host = g_messageBoxHost.load())
        return host->ShowMessageBox(request);
    const MessageBoxAnswer answer = DefaultAnswer(request);
    DebugOutput(Format(u"[message box] %s: %s -> %s", request.caption, request.text, AnswerName(answer)));
    return answer;
}

DebugSink SetDebugSink(DebugSink sink)
{
    std::lock_guard guard(DebugLock());
    std::swap(CurrentSink(), sink);
    return sink;
}

void DebugOutput(std::u16string_view text)
{
    while (!text.empty() && (text.back() == u'\n' || text.back() == u'\r'))
        text.remove_suffix(1);
    std::lock_guard guard(DebugLock());
    if (const DebugSink& sink = CurrentSink()) {
        sink(text);
        return;
    }
    std::string line = Utf16ToUtf8(text);
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

void AssertReport(const char* expression, const char* source, int line, const char* extra)
{
    MessageBoxRequest request;
    request.caption = u"KESTREL";
    // The texts come from the engine's own sources, which are UTF-8.
    const std::u16string expressionText = Utf8ToUtf16(expression ? expression : "");
    const std::u16string sourceText = Utf8ToUtf16(source ? source : "");
    request.text = extra ? Format(u"Assert(%s);\nFile %s, line %d.  %s", expressionText, sourceText, line,
                               Utf8ToUtf16(extra))
                         : Format(u"Assert(%s);\nFile %s, line %d.", expressionText, sourceText, line);
    request.buttons = MessageBoxButtons::AbortRetryIgnore;
    request.icon = MessageBoxIcon::Error;
    // Ignore is the default: with nobody to ask, the caller continues as stated.
    request.defaultButton = 2;
    request.owner = MessageBoxOwner::MainWindow;

    switch (ShowMessageBox(request)) {
    case MessageBoxAnswer::Abort:
        throw ExceptionHandle(u"misc", line, TruncateUtf16(request.text, ExceptionHandle::kTextUnits));
    case MessageBoxAnswer::Retry:
        if (MessageBoxHost* host = g_messageBoxHost.load(); host && host->IsDebuggerAttached())
            host->BreakIntoDebugger();
        return;
    default:
        return;
    }
}

} // namespace kestrel
