// Helpers shared by the tests.
#pragma once

#include "core/report.h"

#include <string>
#include <vector>

namespace kestrel::test {

// Collects the debug output lines while it lives.
class DebugCapture {
public:
    DebugCapture()
    {
        m_previous = SetDebugSink([this](std::u16string_view line) { m_lines.emplace_back(line); });
    }
    ~DebugCapture() { SetDebugSink(std::move(m_previous)); }
    DebugCapture(const DebugCapture&) = delete;
    DebugCapture& operator=(const DebugCapture&) = delete;

    const std::vector<std::u16string>& lines() const { return m_lines; }

private:
    DebugSink m_previous;
    std::vector<std::u16string> m_lines;
};

} // namespace kestrel::test
