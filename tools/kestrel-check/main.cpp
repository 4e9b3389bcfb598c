// kestrel-check: compiles a scenario (and iv.txt) as the engine does and
// reports what the engine would only find while running it.
//
//   kestrel-check SCRIPT [--iv IVFILE]   first compile error, then warnings
//   kestrel-check --dump-nodes SCRIPT    the compiled node list, one per line
//   kestrel-check --dump-iv IVFILE       the jump and judge tables
//
// Exit status: 0 clean, 1 error, 2 usage error, 3 warnings only.
#include "check.h"

#include "core/exception.h"
#include "core/file.h"
#include "core/report.h"
#include "core/text.h"
#include "script/node.h"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr int kExitClean = 0;
constexpr int kExitError = 1;
constexpr int kExitUsage = 2;
constexpr int kExitWarnings = 3;

constexpr const char* kUsage =
    "usage: kestrel-check [--verbose] SCRIPT [--iv IVFILE]\n"
    "       kestrel-check [--verbose] --dump-nodes SCRIPT\n"
    "       kestrel-check [--verbose] --dump-iv IVFILE\n"
    "       kestrel-check --help\n";

constexpr const char* kHelp =
    "kestrel-check - check a scenario before playing it\n"
    "\n"
    "Scenarios and iv.txt are read as code page 932 (Shift_JIS); everything\n"
    "printed is UTF-8.\n"
    "\n"
    "Modes:\n"
    "  kestrel-check SCRIPT [--iv IVFILE]\n"
    "      Reads IVFILE into the jump and judge tables (when given), compiles\n"
    "      SCRIPT as the engine does and reports the first error. Then warns\n"
    "      about what the engine only finds while the game runs:\n"
    "        - JMP, RJP, PJP and SEL lines whose label no LAB line defines\n"
    "          (label names are compared ignoring case);\n"
    "        - LAB lines that do not follow a page break (every label is\n"
    "          reported, whether or not something jumps to it);\n"
    "        - runs of RJP lines other than exactly three;\n"
    "        - runs of more than three SEL lines (a menu holds three choices);\n"
    "      and, with --iv:\n"
    "        - jump-table entries and judge blocks whose label is not defined\n"
    "          (jump-table lines without a label are unused and not checked);\n"
    "        - judge blocks with more than eight conditions.\n"
    "      Each warning is one line on standard output:\n"
    "        FILE(LINE): warning: TEXT\n"
    "      FILE is the base name of the script, or of IVFILE for the tables.\n"
    "      For the script, LINE is the line the engine records for the\n"
    "      statement, the one its own run-time errors show: for a command,\n"
    "      the line after it. For a jump-table entry it is the entry's line\n"
    "      (index + 1); for a judge block, the line of its \"#KEY\" line, or 0\n"
    "      when a malformed block earlier in the file makes that uncertain.\n"
    "  kestrel-check --dump-nodes SCRIPT\n"
    "      Compiles SCRIPT and prints one line per node in list order:\n"
    "        LINE<TAB>KIND<TAB>OP<TAB>PAGE, then <TAB>ARG for each argument\n"
    "      OP is the decimal value of the operator byte (0 when none). The last\n"
    "      node is the end node (kind 0).\n"
    "  kestrel-check --dump-iv IVFILE\n"
    "      Reads IVFILE and prints its tables: the 20 jump entries as\n"
    "        J<TAB>INDEX<TAB>LABEL<TAB>NOTE\n"
    "      (NOTE is the rest of the entry's line, without a \"//\" comment),\n"
    "      then each judge block as\n"
    "        K<TAB>KEY<TAB>LABEL<TAB>COUNT\n"
    "      followed by one line per condition:\n"
    "        C<TAB>LEFT<TAB>OP<TAB>RIGHT\n"
    "      OP is the operator as stored: = (==), ! (<>), > (>>), ] (>=),\n"
    "      < (<<), [ (<=), or 0 when the condition has no valid operator.\n"
    "  In both dumps, texts have \\ written as \\\\, line feeds as \\n, tabs as\n"
    "  \\t and carriage returns as \\r.\n"
    "\n"
    "Options:\n"
    "  --iv IVFILE   also read and check iv.txt (first mode only).\n"
    "  --verbose     also show the engine's own debug lines on standard error.\n"
    "  --help        print this text.\n"
    "\n"
    "Errors go to standard error. A compile error ends there and its last\n"
    "line is SOURCE(LINE): MESSAGE, as the engine reports it, SOURCE being\n"
    "the base name of the file.\n"
    "\n"
    "Exit status: 0 when nothing was found, 1 on an error (a compile error, a\n"
    "file that cannot be read), 2 on a usage error, 3 when there were\n"
    "warnings only.\n";

enum class Mode { Check, DumpNodes, DumpIv };

struct Options {
    Mode mode = Mode::Check;
    std::string file;
    std::optional<std::string> ivFile;
    bool verbose = false;
};

int UsageError(const std::string& problem)
{
    std::fprintf(stderr, "kestrel-check: %s\n%s", problem.c_str(), kUsage);
    return kExitUsage;
}

int Failure(const std::string& message)
{
    std::fprintf(stderr, "kestrel-check: %s\n", message.c_str());
    return kExitError;
}

fs::path PathFromUtf8(const std::string& text)
{
    return fs::path(std::u8string(text.begin(), text.end()));
}

// A file given on the command line: its bytes and the name reports use.
struct Input {
    std::vector<std::uint8_t> bytes;
    std::u16string baseName;
};

std::optional<Input> ReadInput(const std::string& name)
{
    const fs::path path = PathFromUtf8(name);
    std::error_code error;
    if (fs::is_directory(path, error)) {
        Failure(name + " is a folder, not a file");
        return std::nullopt;
    }
    std::optional<std::vector<std::uint8_t>> bytes = kestrel::ReadWholeFile(path);
    if (!bytes) {
        Failure("cannot read " + name);
        return std::nullopt;
    }
    const std::u8string base = path.filename().u8string();
    return Input{std::move(*bytes), kestrel::Utf8ToUtf16(std::string(base.begin(), base.end()))};
}

int CompileError(const kestrel::ExceptionHandle& error)
{
    std::fprintf(stderr, "%s(%d): %s\n", kestrel::Utf16ToUtf8(error.Source()).c_str(), static_cast<int>(error.Line()),
        kestrel::Utf16ToUtf8(error.Message()).c_str());
    return kExitError;
}

int Print(const std::string& text)
{
    if (!text.empty() && std::fwrite(text.data(), 1, text.size(), stdout) != text.size())
        return Failure("cannot write to standard output");
    return std::fflush(stdout) == 0 ? kExitClean : Failure("cannot write to standard output");
}

int DumpNodes(const Input& script)
{
    TextScript::ScriptStateGroup group;
    try {
        group.Compile(script.bytes, script.baseName);
    } catch (const kestrel::ExceptionHandle& error) {
        return CompileError(error);
    }
    return Print(kestrel::check::DumpNodes(group));
}

int DumpIv(const Input& iv)
{
    TextScript::ScriptStateGroup group;
    try {
        group.ReadTables(iv.bytes, iv.baseName);
    } catch (const kestrel::ExceptionHandle& error) {
        return CompileError(error);
    }
    return Print(kestrel::check::DumpTables(group.JumpTable(), group.JudgeTable()));
}

int Check(const Input& script, const std::optional<Input>& iv)
{
    // In the engine's order: the tables first, then the script.
    TextScript::ScriptStateGroup group;
    try {
        if (iv)
            group.ReadTables(iv->bytes, iv->baseName);
        group.Compile(script.bytes, script.baseName);
    } catch (const kestrel::ExceptionHandle& error) {
        return CompileError(error);
    }

    std::optional<kestrel::check::TableSource> tables;
    if (iv) {
        tables.emplace();
        tables->fileName = iv->baseName;
        tables->jumpTable = &group.JumpTable();
        tables->judgeTable = &group.JudgeTable();
        tables->judgeLines = kestrel::check::JudgeBlockLines(iv->bytes, group.JudgeTable().Count());
    }
    const std::vector<kestrel::check::Finding> findings =
        kestrel::check::Lint(group, script.baseName, tables ? &*tables : nullptr);
    std::string report;
    for (const kestrel::check::Finding& finding : findings)
        report += kestrel::check::FormatFinding(finding) + "\n";
    if (const int status = Print(report); status != kExitClean)
        return status;
    return findings.empty() ? kExitClean : kExitWarnings;
}

// Parses the command line; a usage error's exit status when it is wrong.
std::optional<int> ParseArguments(const std::vector<std::string>& args, Options& options)
{
    std::vector<std::string> operands;
    std::optional<Mode> dumpMode;
    bool onlyOperands = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (onlyOperands || arg.empty() || arg[0] != '-' || arg == "-") {
            operands.push_back(arg);
        } else if (arg == "--") {
            onlyOperands = true;
        } else if (arg == "--verbose") {
            options.verbose = true;
        } else if (arg == "--iv") {
            if (options.ivFile)
                return UsageError("--iv given twice");
            if (i + 1 >= args.size())
                return UsageError("--iv needs a file");
            options.ivFile = args[++i];
        } else if (arg == "--dump-nodes" || arg == "--dump-iv") {
            const Mode mode = arg == "--dump-nodes" ? Mode::DumpNodes : Mode::DumpIv;
            if (dumpMode && *dumpMode != mode)
                return UsageError("--dump-nodes and --dump-iv cannot be combined");
            dumpMode = mode;
        } else {
            return UsageError("unknown option " + arg);
        }
    }
    options.mode = dumpMode.value_or(Mode::Check);
    if (options.mode != Mode::Check && options.ivFile)
        return UsageError("--iv only goes with a check, not with a dump");
    if (operands.empty())
        return UsageError(options.mode == Mode::DumpIv ? "no IVFILE given" : "no SCRIPT given");
    if (operands.size() > 1)
        return UsageError("one file at a time (unexpected " + operands[1] + ")");
    options.file = operands[0];
    return std::nullopt;
}

int Run(const std::vector<std::string>& args)
{
    for (const std::string& arg : args) {
        if (arg == "--")
            break;
        if (arg == "--help" || arg == "-h") {
            std::fputs(kHelp, stdout);
            return kExitClean;
        }
    }
    Options options;
    if (const std::optional<int> usage = ParseArguments(args, options))
        return *usage;

    // The engine writes every compile error to its debug output as well;
    // here that would only repeat the report.
    if (!options.verbose)
        kestrel::SetDebugSink([](std::u16string_view) {});

    const std::optional<Input> file = ReadInput(options.file);
    if (!file)
        return kExitError;
    switch (options.mode) {
    case Mode::DumpNodes:
        return DumpNodes(*file);
    case Mode::DumpIv:
        return DumpIv(*file);
    case Mode::Check:
        break;
    }
    std::optional<Input> iv;
    if (options.ivFile) {
        iv = ReadInput(*options.ivFile);
        if (!iv)
            return kExitError;
    }
    return Check(*file, iv);
}

} // namespace

int main(int argc, char** argv)
{
    try {
        return Run(std::vector<std::string>(argc > 0 ? argv + 1 : argv, argv + argc));
    } catch (const std::exception& error) {
        return Failure(error.what());
    }
}
