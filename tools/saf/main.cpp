// saf: lists, reads, unpacks and packs SAF archives from the command line.
//
//   saf list ARCHIVE              one line per file: path, stored size, offset
//   saf cat ARCHIVE MEMBER        the member's unpacked bytes on stdout
//   saf info ARCHIVE              version, flags, entry count, name-table size
//   saf unpack ARCHIVE DIR        every file below DIR
//   saf pack [options] SRC OUT    a folder packed into a new archive
//
// ARCHIVE may also be a folder, served as the engine serves a development
// tree (it lists no files). Exit status: 0 done, 1 failed, 2 usage error.
#include "archive/archive.h"
#include "archive/saf_format.h"
#include "archive/saf_writer.h"
#include "core/file.h"
#include "core/text.h"

#include <array>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace {

namespace fs = std::filesystem;
using kestrel::ComPtr;
using kestrel::IArchive;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

constexpr const char* kUsage =
    "usage: saf list ARCHIVE | cat ARCHIVE MEMBER | info ARCHIVE | unpack ARCHIVE DIR |\n"
    "           pack [--version 5|6] [--scramble] [--compress none|zlib|egg] SRC_DIR OUT\n"
    "       saf --help\n";

constexpr const char* kHelp =
    "saf - read and write SAF game data archives\n"
    "\n"
    "Commands:\n"
    "  saf list ARCHIVE\n"
    "      Prints one line per file, depth first in index order:\n"
    "      PATH<TAB>STORED_SIZE<TAB>OFFSET, with \"/\" between folder names and\n"
    "      OFFSET the byte position of the member's data in the archive.\n"
    "  saf cat ARCHIVE MEMBER\n"
    "      Writes the member's unpacked bytes to standard output. MEMBER is a\n"
    "      path such as bgm/title.ogg; letter case does not matter and \"/\" or\n"
    "      \"\\\" may separate the names.\n"
    "  saf info ARCHIVE\n"
    "      Prints the archive's version, header flags, number of entries and\n"
    "      the size of the name table (version 6; version 5 has none).\n"
    "  saf unpack ARCHIVE DIR\n"
    "      Writes every file of the archive below DIR, creating folders as\n"
    "      needed. Members whose paths are absolute or hold empty, \".\" or\n"
    "      \"..\" components are refused and reported; nothing is written outside DIR.\n"
    "  saf pack [OPTIONS] SRC_DIR OUT\n"
    "      Packs every file and folder below SRC_DIR into the new archive OUT.\n"
    "\n"
    "Options of pack:\n"
    "  --version 5|6       archive version (default 6). Version 5 names hold at most\n"
    "                      20 bytes of Shift_JIS and may not start with a byte of\n"
    "                      0x80 or above.\n"
    "  --scramble          scramble the index as the engine expects of release data.\n"
    "  --compress METHOD   none (default), zlib (both versions) or egg (version 6).\n"
    "                      A member that would not get smaller is stored as it is.\n"
    "\n"
    "ARCHIVE may be a folder, which is read like a development tree (list shows no files).\n"
    "Exit status: 0 on success, 1 when something failed, 2 on a usage error.\n"
    "  --help              prints this text.\n";

int UsageError(const std::string& problem)
{
    std::fprintf(stderr, "saf: %s\n%s", problem.c_str(), kUsage);
    return kExitUsage;
}

int Failure(const std::string& message)
{
    std::fprintf(stderr, "saf: %s\n", message.c_str());
    return kExitFailed;
}

// A SAF file, or a folder served as an archive.
ComPtr<IArchive> OpenAnyArchive(const fs::path& path)
{
    std::error_code error;
    if (fs::is_directory(path, error))
        return ComPtr<IArchive>::Adopt(kestrel::NewDirArchive(path));
    return ComPtr<IArchive>::Adopt(kestrel::OpenSafArchive(path));
}

fs::path PathFromUtf8(const std::string& text)
{
    return fs::path(std::u8string(text.begin(), text.end()));
}

// The member's unpacked bytes; nothing when it cannot be opened, and `complete`
// false when unpacking produced fewer bytes than the index promises.
std::optional<std::vector<std::uint8_t>> ReadMember(IArchive& archive, std::u16string_view path, bool& complete)
{
    auto member = ComPtr<kestrel::ICompressedFile>::Adopt(archive.OpenDecoded(path));
    if (!member)
        return std::nullopt;
    const std::int64_t size = member->GetSize();
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    complete = member->ReadAll(bytes.data()) == size;
    return bytes;
}

int List(const fs::path& archivePath)
{
    ComPtr<IArchive> archive = OpenAnyArchive(archivePath);
    if (!archive)
        return Failure("cannot open the archive " + archivePath.string());
    std::vector<kestrel::ArchiveEntryRecord> records;
    for (const kestrel::ArchiveEntryRecord& record : archive->Enumerate(records)) {
        std::printf("%s\t%lld\t%lld\n", kestrel::Utf16ToUtf8(record.path).c_str(),
            static_cast<long long>(record.storedSize), static_cast<long long>(record.offset));
    }
    return std::fflush(stdout) == 0 ? kExitOk : Failure("cannot write to standard output");
}

int Cat(const fs::path& archivePath, const std::string& memberName)
{
    ComPtr<IArchive> archive = OpenAnyArchive(archivePath);
    if (!archive)
        return Failure("cannot open the archive " + archivePath.string());
    bool complete = false;
    const std::optional<std::vector<std::uint8_t>> bytes =
        ReadMember(*archive, kestrel::Utf8ToUtf16(memberName), complete);
    if (!bytes)
        return Failure("no file \"" + memberName + "\" in " + archivePath.string());
    if (!complete)
        return Failure("cannot unpack \"" + memberName + "\" (damaged member)");
    if (!bytes->empty() && std::fwrite(bytes->data(), 1, bytes->size(), stdout) != bytes->size())
        return Failure("cannot write to standard output");
    return std::fflush(stdout) == 0 ? kExitOk : Failure("cannot write to standard output");
}

int Info(const fs::path& archivePath)
{
    kestrel::File file(archivePath, kestrel::File::Mode::Read);
    if (!file)
        return Failure("cannot open " + archivePath.string());
    std::array<std::uint8_t, kestrel::saf::kHeader6Size> header{};
    const std::size_t got = file.Read(header);
    const std::uint8_t flags = header[0];
    const std::uint8_t version = header[1];
    if (got < kestrel::saf::kHeader5Size || (version != kestrel::saf::kVersion5 && version != kestrel::saf::kVersion6))
        return Failure(archivePath.string() + " is not a SAF archive of version 5 or 6");
    if (version == kestrel::saf::kVersion6 && got < kestrel::saf::kHeader6Size)
        return Failure(archivePath.string() + ": the header is cut short");

    std::string flagWords;
    auto addWord = [&](const char* word) { flagWords += (flagWords.empty() ? "" : ", ") + std::string(word); };
    if (flags & kestrel::saf::kFlagScrambled)
        addWord("scrambled");
    if (version == kestrel::saf::kVersion6 && (flags & kestrel::saf::kFlagEgg))
        addWord("egg");
    std::printf("version: %u\n", static_cast<unsigned>(version));
    std::printf("flags: 0x%02X%s%s%s\n", static_cast<unsigned>(flags), flagWords.empty() ? "" : " (",
        flagWords.c_str(), flagWords.empty() ? "" : ")");
    std::printf("entries: %u\n", static_cast<unsigned>(kestrel::saf::ReadU16(&header[2])));
    if (version == kestrel::saf::kVersion6)
        std::printf("name table: %u bytes\n", static_cast<unsigned>(kestrel::saf::ReadU32(&header[4])));
    else
        std::printf("name table: none\n");
    return std::fflush(stdout) == 0 ? kExitOk : Failure("cannot write to standard output");
}

// The place below `root` where a member goes, or nothing when its path is
// absolute or holds an empty, "." or ".." component (or a ":", which names a
// drive or stream on some systems).
std::optional<fs::path> SafeDestination(const fs::path& root, std::u16string_view member)
{
    if (member.empty())
        return std::nullopt;
    fs::path relative;
    std::size_t begin = 0;
    while (true) {
        const std::size_t end = member.find_first_of(u"/\\", begin);
        const std::u16string_view part =
            member.substr(begin, end == std::u16string_view::npos ? std::u16string_view::npos : end - begin);
        if (part.empty() || part == u"." || part == u".." || part.find(u':') != std::u16string_view::npos ||
            part.find(u'\0') != std::u16string_view::npos)
            return std::nullopt;
        relative /= PathFromUtf8(kestrel::Utf16ToUtf8(part));
        if (end == std::u16string_view::npos)
            break;
        begin = end + 1;
    }
    if (relative.is_absolute() || relative.has_root_path())
        return std::nullopt;
    return root / relative;
}

// True when no folder between `root` and `target`, nor `target` itself, is a
// symbolic link that could lead the write elsewhere.
bool StaysInside(const fs::path& root, const fs::path& target)
{
    std::error_code error;
    fs::path walk = root;
    for (const fs::path& part : target.lexically_relative(root)) {
        walk /= part;
        if (fs::is_symlink(walk, error))
            return false;
    }
    return true;
}

int Unpack(const fs::path& archivePath, const fs::path& outDir)
{
    ComPtr<IArchive> archive = OpenAnyArchive(archivePath);
    if (!archive)
        return Failure("cannot open the archive " + archivePath.string());
    std::error_code error;
    fs::create_directories(outDir, error);
    if (!fs::is_directory(outDir, error))
        return Failure("cannot create the folder " + outDir.string());

    std::vector<kestrel::ArchiveEntryRecord> records;
    archive->Enumerate(records);
    int skipped = 0;
    for (const kestrel::ArchiveEntryRecord& record : records) {
        const std::string name = kestrel::Utf16ToUtf8(record.path);
        const std::optional<fs::path> target = SafeDestination(outDir, record.path);
        if (!target || !StaysInside(outDir, *target)) {
            std::fprintf(stderr, "saf: skipped \"%s\": the path would leave %s\n", name.c_str(),
                outDir.string().c_str());
            ++skipped;
            continue;
        }
        bool complete = false;
        const std::optional<std::vector<std::uint8_t>> bytes = ReadMember(*archive, record.path, complete);
        if (!bytes || !complete) {
            std::fprintf(stderr, "saf: skipped \"%s\": cannot read or unpack it\n", name.c_str());
            ++skipped;
            continue;
        }
        fs::create_directories(target->parent_path(), error);
        kestrel::File file = kestrel::CreateFileForWrite(*target);
        if (!file || !file.WriteAll(*bytes) || !file.Flush()) {
            std::fprintf(stderr, "saf: skipped \"%s\": cannot write %s\n", name.c_str(), target->string().c_str());
            ++skipped;
        }
    }
    if (skipped > 0)
        return Failure(std::to_string(skipped) + " of " + std::to_string(records.size()) + " files not unpacked");
    return kExitOk;
}

int Pack(const std::vector<std::string>& args)
{
    kestrel::saf::WriterOptions options;
    std::vector<std::string> operands;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        std::optional<std::string> value;
        if (const std::size_t eq = arg.find('='); arg.starts_with("--") && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg.resize(eq);
        }
        auto takeValue = [&]() -> std::optional<std::string> {
            if (value)
                return value;
            if (i + 1 < args.size())
                return args[++i];
            return std::nullopt;
        };
        if (arg == "--version") {
            const std::optional<std::string> v = takeValue();
            if (v == "5")
                options.version = 5;
            else if (v == "6")
                options.version = 6;
            else
                return UsageError("--version takes 5 or 6");
        } else if (arg == "--scramble") {
            if (value)
                return UsageError("--scramble takes no value");
            options.scramble = true;
        } else if (arg == "--compress") {
            const std::optional<std::string> v = takeValue();
            if (v == "none")
                options.compression = kestrel::saf::Compression::None;
            else if (v == "zlib")
                options.compression = kestrel::saf::Compression::Zlib;
            else if (v == "egg")
                options.compression = kestrel::saf::Compression::Egg;
            else
                return UsageError("--compress takes none, zlib or egg");
        } else if (arg.starts_with("--")) {
            return UsageError("unknown option " + arg);
        } else {
            operands.push_back(args[i]);
        }
    }
    if (operands.size() != 2)
        return UsageError("pack needs SRC_DIR and OUT");
    if (options.version == 5 && options.compression == kestrel::saf::Compression::Egg)
        return UsageError("--compress egg needs version 6 (version 5 archives hold stored and zlib members only)");
    if (const std::optional<std::string> error =
            kestrel::saf::PackDirectory(operands[0], operands[1], options))
        return Failure("cannot pack " + operands[0] + ":\n" + *error);
    return kExitOk;
}

} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argc > 0 ? argv + 1 : argv, argv + argc);
    for (const std::string& arg : args) {
        if (arg == "--help" || arg == "-h") {
            std::fputs(kHelp, stdout);
            return kExitOk;
        }
    }
    if (args.empty())
        return UsageError("no command given");
    const std::string& command = args[0];
    const std::size_t operands = args.size() - 1;
    if (command == "list" && operands == 1)
        return List(args[1]);
    if (command == "cat" && operands == 2)
        return Cat(args[1], args[2]);
    if (command == "info" && operands == 1)
        return Info(args[1]);
    if (command == "unpack" && operands == 2)
        return Unpack(args[1], args[2]);
    if (command == "pack")
        return Pack(std::vector<std::string>(args.begin() + 1, args.end()));
    if (command == "list" || command == "cat" || command == "info" || command == "unpack")
        return UsageError("wrong number of arguments for " + command);
    return UsageError("unknown command \"" + command + "\"");
}
