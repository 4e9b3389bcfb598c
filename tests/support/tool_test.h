// Running the command-line tools as programs from a test: a fresh folder per
// test, the tool's exit status, standard output and standard error.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace kestrel::test {

enum class LeakCheck { Off, On };

struct RunResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

class ToolTest : public ::testing::Test {
protected:
    // `tool` is the program's path; the folder's name starts with `prefix`.
    ToolTest(std::string tool, std::string prefix) : m_tool(std::move(tool)), m_prefix(std::move(prefix)) {}

    void SetUp() override;
    void TearDown() override;

    const std::filesystem::path& root() const { return m_root; }

    // Leak checking at exit costs a sanitizer build tens of milliseconds a
    // run; a few runs check leaks, the rest skip it. Other builds ignore it.
    RunResult Run(const std::vector<std::string>& args, LeakCheck leaks = LeakCheck::Off);

private:
    std::string m_tool;
    std::string m_prefix;
    std::filesystem::path m_root;
};

std::string ShellQuote(const std::string& text);

} // namespace kestrel::test
