// Diagnostics: the debug output, message boxes and the assertion report.
//
// Message boxes are shown by whoever hosts the engine (the platform layer's
// back-end); core only knows the small host interface below, so that it stays
// below everything else.
#pragma once

#include "core/format.h"

#include <functional>
#include <string>
#include <string_view>

namespace kestrel {

enum class MessageBoxButtons { Ok, OkCancel, YesNo, YesNoCancel, AbortRetryIgnore };
enum class MessageBoxIcon { None, Information, Warning, Error, Question };
enum class MessageBoxAnswer { Ok, Cancel, Yes, No, Abort, Retry, Ignore };
// A box owned by the main window is modal to it; one without owner stands alone
// (the start-up errors, shown before or after the window exists).
enum class MessageBoxOwner { None, MainWindow };

struct MessageBoxRequest {
    std::u16string caption;
    std::u16string text;
    MessageBoxButtons buttons = MessageBoxButtons::Ok;
    MessageBoxIcon icon = MessageBoxIcon::None;
    int defaultButton = 0; // index into the buttons, left to right
    MessageBoxOwner owner = MessageBoxOwner::None;
};

// The answer a box gives when nobody can be asked: its default button.
MessageBoxAnswer DefaultAnswer(const MessageBoxRequest& request);
std::u16string_view AnswerName(MessageBoxAnswer answer);

class MessageBoxHost {
public:
    virtual ~MessageBoxHost() = default;
    virtual MessageBoxAnswer ShowMessageBox(const MessageBoxRequest& request) = 0;
    virtual bool IsDebuggerAttached() = 0;
    virtual void BreakIntoDebugger() = 0;
};

// Installs the host that shows boxes from now on; returns the previous one.
// Without a host a box is written to the debug output and given its default answer.
MessageBoxHost* SetMessageBoxHost(MessageBoxHost* host);
MessageBoxAnswer ShowMessageBox(const MessageBoxRequest& request);

// One line on the debug output (stderr): a trailing line feed is added when
// the text has none. Safe from any thread.
void DebugOutput(std::u16string_view text);

// Where debug lines go; the default writes them to stderr as UTF-8. Tests
// install a sink to read what a component reported. Returns the previous sink.
using DebugSink = std::function<void(std::u16string_view line)>;
DebugSink SetDebugSink(DebugSink sink);

inline constexpr std::size_t kDebugPrintUnits = 128;
inline constexpr std::size_t kMessageBoxPrintfUnits = 1024;

// Formats into 128 units and writes the line to the debug output.
template <class... Args>
void DebugPrint(std::u16string_view format, const Args&... args)
{
    DebugOutput(FormatLimited(kDebugPrintUnits, format, args...));
}

// Formats into 1024 units and shows an OK box.
template <class... Args>
MessageBoxAnswer MessageBoxPrintf(MessageBoxOwner owner, std::u16string_view caption, std::u16string_view format,
    const Args&... args)
{
    MessageBoxRequest request;
    request.caption = std::u16string(caption);
    request.text = FormatLimited(kMessageBoxPrintfUnits, format, args...);
    request.owner = owner;
    return ShowMessageBox(request);
}

// The assertion report: "Assert(expr);\nFile source, line N." (and the extra
// text after two blanks) in an Abort/Retry/Ignore box captioned "KESTREL".
// Abort throws ExceptionHandle (Source "misc"); Retry breaks into an attached
// debugger, or returns like Ignore when there is none; Ignore returns.
void AssertReport(const char* expression, const char* source, int line, const char* extra = nullptr);

} // namespace kestrel

// Programming errors: reports and lets the caller continue as stated.
#define KESTREL_ASSERT(expression, source)                                                                   \
    ((expression) ? static_cast<void>(0) : ::kestrel::AssertReport(#expression, (source), __LINE__))
