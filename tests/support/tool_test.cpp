#include "support/tool_test.h"

#include "core/file.h"

#include <cctype>
#include <cstdlib>
#include <random>

namespace kestrel::test {

namespace fs = std::filesystem;

std::string ShellQuote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

void ToolTest::SetUp()
{
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = m_prefix + info->test_suite_name() + "_" + info->name();
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    }
    m_root = fs::temp_directory_path() / (name + "_" + std::to_string(std::random_device{}()));
    fs::remove_all(m_root);
    fs::create_directories(m_root);
}

void ToolTest::TearDown()
{
    std::error_code ignored;
    fs::remove_all(m_root, ignored);
}

RunResult ToolTest::Run(const std::vector<std::string>& args, LeakCheck leaks)
{
    const fs::path outFile = m_root / "stdout.txt";
    const fs::path errFile = m_root / "stderr.txt";
    std::string command = leaks == LeakCheck::Off ? "ASAN_OPTIONS=\"$ASAN_OPTIONS:detect_leaks=0\" " : "";
    command += ShellQuote(m_tool);
    for (const std::string& arg : args)
        command += " " + ShellQuote(arg);
    command += " >" + ShellQuote(outFile.string()) + " 2>" + ShellQuote(errFile.string());
    const int status = std::system(command.c_str());
    RunResult result;
#if defined(WEXITSTATUS) // the C library's status macros, where it has them
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#else
    result.exitCode = status;
#endif
    const std::vector<std::uint8_t> none;
    const auto out = ReadWholeFile(outFile).value_or(none);
    const auto err = ReadWholeFile(errFile).value_or(none);
    result.out.assign(out.begin(), out.end());
    result.err.assign(err.begin(), err.end());
    return result;
}

} // namespace kestrel::test
