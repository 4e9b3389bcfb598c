// Fuzz targets feed damaged input on purpose: the reports it causes (debug
// lines, message boxes) are silenced so that the fuzzer's own output stays
// readable.
#pragma once

#include "core/report.h"

namespace kestrel::fuzz {

// Answers every box with its default button, shows nothing.
class SilentBoxes final : public MessageBoxHost {
public:
    MessageBoxAnswer ShowMessageBox(const MessageBoxRequest& request) override { return DefaultAnswer(request); }
    bool IsDebuggerAttached() override { return false; }
    void BreakIntoDebugger() override {}
};

inline void QuietReports()
{
    static const bool quiet = [] {
        static SilentBoxes boxes;
        SetMessageBoxHost(&boxes);
        SetDebugSink([](std::u16string_view) {});
        return true;
    }();
    (void)quiet;
}

} // namespace kestrel::fuzz
