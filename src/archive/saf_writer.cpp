// The SAF packer.
//
// Writing happens in three steps: the tree collected by the Add calls is laid
// out breadth first (which fixes every entry index and so the index size), the
// members are written one after another from the first block after the index,
// and finally the index, now that every start block and size is known, is
// written (and scrambled) at the start.
#include "archive/saf_writer.h"

#include "archive/egg.h"
#include "archive/saf_format.h"
#include "archive/zlib/zlib_codec.h"
#include "core/cp932.h"
#include "core/file.h"
#include "core/text.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <limits>
#include <map>
#include <system_error>

namespace kestrel::saf {

namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t kMaxU32 = std::numeric_limits<std::uint32_t>::max();
// Bit 31 of a version 6 entry's first field is the folder flag.
constexpr std::uint64_t kMaxNameOffset6 = 0x7FFFFFFF;
// Beyond this many problems the list is cut short.
constexpr std::size_t kMaxReportedErrors = 20;

std::string Utf8(std::u16string_view text)
{
    return Utf16ToUtf8(text);
}

// A name or path in quotes, for error texts.
std::string Quoted(std::u16string_view text)
{
    std::string quoted(1, '"');
    quoted += Utf16ToUtf8(text);
    quoted += '"';
    return quoted;
}

// Lookups compare names without regard to the case of ASCII letters, so two
// siblings that differ only there could not both be found.
std::u16string FoldAscii(std::u16string_view name)
{
    std::u16string folded(name);
    for (char16_t& c : folded) {
        if (c >= u'A' && c <= u'Z')
            c = static_cast<char16_t>(c - u'A' + u'a');
    }
    return folded;
}

struct Node {
    std::u16string name;
    std::string storedName; // code page 932
    bool isDirectory = false;
    // Children by ASCII-folded name.
    std::map<std::u16string, std::size_t> children;
    // Files: the bytes, or the file to read them from.
    std::vector<std::uint8_t> bytes;
    std::optional<fs::path> source;
    // Set while writing.
    std::uint32_t start = 0;
    std::uint32_t storedSize = 0;
    std::uint32_t third = 0; // unpacked size or child count
};

// Where the archive goes: a growing byte vector or a file.
class Sink {
public:
    virtual ~Sink() = default;
    virtual bool Append(std::span<const std::uint8_t> bytes) = 0;
    virtual bool AppendZeros(std::size_t count) = 0;
    // Overwrites the start of the output.
    virtual bool WriteAtStart(std::span<const std::uint8_t> bytes) = 0;
    virtual bool Finish() = 0;
};

class MemorySink final : public Sink {
public:
    explicit MemorySink(std::vector<std::uint8_t>& out) : m_out(out) { m_out.clear(); }
    bool Append(std::span<const std::uint8_t> bytes) override
    {
        m_out.insert(m_out.end(), bytes.begin(), bytes.end());
        return true;
    }
    bool AppendZeros(std::size_t count) override
    {
        m_out.resize(m_out.size() + count, 0);
        return true;
    }
    bool WriteAtStart(std::span<const std::uint8_t> bytes) override
    {
        if (bytes.size() > m_out.size())
            return false;
        std::memcpy(m_out.data(), bytes.data(), bytes.size());
        return true;
    }
    bool Finish() override { return true; }

private:
    std::vector<std::uint8_t>& m_out;
};

class FileSink final : public Sink {
public:
    explicit FileSink(File& file) : m_file(file) {}
    bool Append(std::span<const std::uint8_t> bytes) override { return m_file.WriteAll(bytes); }
    bool AppendZeros(std::size_t count) override
    {
        static const std::uint8_t zeros[kBlockSize] = {};
        while (count > 0) {
            const std::size_t n = std::min(count, sizeof zeros);
            if (!m_file.WriteAll(std::span(zeros, n)))
                return false;
            count -= n;
        }
        return true;
    }
    bool WriteAtStart(std::span<const std::uint8_t> bytes) override
    {
        return Seek64(m_file, 0, SeekMethod::Begin) == 0 && m_file.WriteAll(bytes);
    }
    bool Finish() override { return m_file.Flush(); }

private:
    File& m_file;
};

} // namespace

struct SafBuilder::Impl {
    WriterOptions options;
    std::vector<Node> nodes; // nodes[0] is the root
    std::vector<std::string> errors;
    std::size_t droppedErrors = 0;

    explicit Impl(WriterOptions o) : options(o)
    {
        Node root;
        root.isDirectory = true;
        nodes.push_back(std::move(root));
        if (options.version != kVersion5 && options.version != kVersion6)
            Fail("unsupported archive version " + std::to_string(options.version) + " (5 or 6)");
        else if (options.version == kVersion5 && options.compression == Compression::Egg)
            Fail("version 5 archives cannot hold egg-compressed members (use zlib or version 6)");
    }

    void Fail(std::string text)
    {
        if (errors.size() < kMaxReportedErrors)
            errors.push_back(std::move(text));
        else
            ++droppedErrors;
    }

    std::optional<std::string> ErrorText() const
    {
        if (errors.empty())
            return std::nullopt;
        std::string text;
        for (const std::string& e : errors) {
            if (!text.empty())
                text += '\n';
            text += e;
        }
        if (droppedErrors > 0)
            text += "\n(and " + std::to_string(droppedErrors) + " more)";
        return text;
    }

    // The stored form of one name, or nothing (with an error) when it cannot
    // be stored.
    std::optional<std::string> StoredName(std::u16string_view name, std::u16string_view path)
    {
        const std::string where = Quoted(path) + ": ";
        if (name.empty()) {
            Fail(where + "empty name (a leading, trailing or doubled \"/\")");
            return std::nullopt;
        }
        if (name.find_first_of(std::u16string_view(u"\\\0", 2)) != std::u16string_view::npos) {
            Fail(where + "a name may not contain \"\\\" or a NUL character");
            return std::nullopt;
        }
        if (name == u"." || name == u"..") {
            Fail(where + "\".\" and \"..\" cannot be names");
            return std::nullopt;
        }
        ConversionReport report;
        std::string stored = Utf16ToCp932(name, &report);
        if (report.replaced > 0) {
            Fail(where + "the name " + Quoted(name) + " cannot be written in code page 932 (Shift_JIS)");
            return std::nullopt;
        }
        // Some characters share a code with another one and come back as it;
        // lookups by the original name would then fail.
        if (Cp932ToUtf16(stored) != name) {
            Fail(where + "the name " + Quoted(name) + " does not come back unchanged from code page 932 (Shift_JIS)");
            return std::nullopt;
        }
        if (options.version == kVersion5) {
            if (stored.size() > kName5Size) {
                Fail(where + "the name " + Quoted(name) + " takes " + std::to_string(stored.size()) +
                    " bytes in code page 932; version 5 names hold at most 20");
                return std::nullopt;
            }
            if (static_cast<unsigned char>(stored[0]) >= 0x80) {
                Fail(where + "the name \"" + Utf8(name) +
                    "\" starts with a byte of 0x80 or above, which version 5 keeps for the folder flag");
                return std::nullopt;
            }
            if (stored.find(' ') != std::string::npos) {
                Fail(where + "version 5 names end at the first space, so " + Quoted(name) + " cannot be stored");
                return std::nullopt;
            }
        }
        return stored;
    }

    // The node for `path`, created with its parents; nothing (with an error)
    // when the path is invalid or runs into an entry of the other kind.
    std::optional<std::size_t> Insert(std::u16string_view path, bool isDirectory)
    {
        // Every component is checked first, so that all of a path's problems are told at once.
        struct Component {
            std::u16string_view name;
            std::u16string_view prefix; // the path up to and including this component
            std::string stored;
        };
        std::vector<Component> components;
        bool valid = true;
        for (std::size_t begin = 0;;) {
            const std::size_t slash = path.find(u'/', begin);
            const std::size_t end = slash == std::u16string_view::npos ? path.size() : slash;
            Component c{path.substr(begin, end - begin), path.substr(0, end), {}};
            if (std::optional<std::string> stored = StoredName(c.name, c.prefix))
                c.stored = std::move(*stored);
            else
                valid = false;
            components.push_back(c);
            if (slash == std::u16string_view::npos)
                break;
            begin = slash + 1;
        }
        if (!valid)
            return std::nullopt;

        std::size_t current = 0;
        for (std::size_t i = 0; i < components.size(); ++i) {
            const Component& c = components[i];
            const bool last = i + 1 == components.size();
            const bool wantDirectory = !last || isDirectory;
            std::u16string folded = FoldAscii(c.name);
            const auto it = nodes[current].children.find(folded);
            if (it == nodes[current].children.end()) {
                Node node;
                node.name = std::u16string(c.name);
                node.storedName = c.stored;
                node.isDirectory = wantDirectory;
                const std::size_t index = nodes.size();
                nodes.push_back(std::move(node));
                nodes[current].children.emplace(std::move(folded), index);
                current = index;
                continue;
            }
            const Node& existing = nodes[it->second];
            if (existing.name != c.name) {
                Fail(Quoted(c.prefix) + ": differs only in letter case from \"" +
                    Utf8(c.prefix.substr(0, c.prefix.size() - c.name.size())) + Utf8(existing.name) +
                    "\", and lookups ignore the case of letters");
                return std::nullopt;
            }
            if (existing.isDirectory != wantDirectory) {
                Fail(Quoted(c.prefix) + ": added both as a file and as a folder");
                return std::nullopt;
            }
            if (last && !isDirectory) {
                Fail(Quoted(path) + ": added twice");
                return std::nullopt;
            }
            current = it->second;
        }
        return current;
    }

    std::optional<std::string> Write(Sink& sink);
};

SafBuilder::SafBuilder(WriterOptions options) : m_impl(std::make_unique<Impl>(options)) {}
SafBuilder::~SafBuilder() = default;
SafBuilder::SafBuilder(SafBuilder&&) noexcept = default;
SafBuilder& SafBuilder::operator=(SafBuilder&&) noexcept = default;

void SafBuilder::AddDirectory(std::u16string_view path)
{
    m_impl->Insert(path, true);
}

void SafBuilder::AddFile(std::u16string_view path, std::vector<std::uint8_t> bytes)
{
    if (auto index = m_impl->Insert(path, false))
        m_impl->nodes[*index].bytes = std::move(bytes);
}

void SafBuilder::AddFileFromDisk(std::u16string_view path, std::filesystem::path source)
{
    if (auto index = m_impl->Insert(path, false))
        m_impl->nodes[*index].source = std::move(source);
}

std::optional<std::string> SafBuilder::Impl::Write(Sink& sink)
{
    if (auto error = ErrorText())
        return error;
    const bool v5 = options.version == kVersion5;

    // Breadth first: the root is entry 0, and the children of each folder,
    // sorted by their stored names, get the next free indices together.
    std::vector<std::size_t> order{0};
    for (std::size_t i = 0; i < order.size(); ++i) {
        Node& dir = nodes[order[i]];
        if (!dir.isDirectory)
            continue;
        std::vector<std::size_t> children;
        children.reserve(dir.children.size());
        for (const auto& [folded, index] : dir.children)
            children.push_back(index);
        std::sort(children.begin(), children.end(),
            [&](std::size_t a, std::size_t b) { return nodes[a].storedName < nodes[b].storedName; });
        dir.start = static_cast<std::uint32_t>(order.size());
        dir.third = static_cast<std::uint32_t>(children.size());
        order.insert(order.end(), children.begin(), children.end());
        if (order.size() > kMaxEntries)
            return "too many entries: an archive holds at most 65535, folders and the root included";
    }
    const std::size_t count = order.size();

    // The index size depends only on the names, so member data can follow it
    // before the index itself is filled in.
    std::uint64_t nameTableSize = 0;
    std::vector<std::uint64_t> nameOffsets(count, 0);
    if (!v5) {
        for (std::size_t e = 0; e < count; ++e) {
            nameOffsets[e] = nameTableSize;
            nameTableSize += nodes[order[e]].storedName.size() + 1;
        }
        if (nameTableSize - 1 > kMaxNameOffset6 || nameTableSize > kMaxU32)
            return std::string("the name table is too large for the 31-bit name offsets");
    }
    const std::uint64_t indexSize =
        v5 ? kHeader5Size + kEntry5Size * count : kHeader6Size + kEntry6Size * count + nameTableSize;
    const std::uint64_t firstBlock = (indexSize + kBlockSize - 1) / kBlockSize;
    if (!sink.AppendZeros(static_cast<std::size_t>(firstBlock * kBlockSize)))
        return std::string("cannot write the archive");

    // Members, in entry order, each from a block of its own.
    std::uint64_t block = firstBlock;
    for (std::size_t e = 0; e < count; ++e) {
        Node& node = nodes[order[e]];
        if (node.isDirectory)
            continue;
        const std::string where = Quoted(node.name) + " (entry " + std::to_string(e) + "): ";
        std::vector<std::uint8_t> fromDisk;
        std::span<const std::uint8_t> bytes = node.bytes;
        if (node.source) {
            std::error_code error;
            const std::uintmax_t size = fs::file_size(*node.source, error);
            if (!error && size > kMaxU32)
                return where + "is larger than 4 GiB - 1, the most a member can hold";
            std::optional<std::vector<std::uint8_t>> read = ReadWholeFile(*node.source);
            if (!read)
                return where + "cannot read " + node.source->string();
            fromDisk = std::move(*read);
            bytes = fromDisk;
        }
        if (bytes.size() > kMaxU32)
            return where + "is larger than 4 GiB - 1, the most a member can hold";
        if (block > kMaxU32)
            return where + "starts beyond the last block a start field can name (the archive is too large)";

        std::vector<std::uint8_t> packed;
        if (!bytes.empty()) {
            if (options.compression == Compression::Zlib)
                packed = zlib::Deflate(bytes);
            else if (options.compression == Compression::Egg)
                packed = EggEncode(bytes);
        }
        const bool compressed = !packed.empty() && packed.size() < bytes.size();
        const std::span<const std::uint8_t> stored = compressed ? std::span<const std::uint8_t>(packed) : bytes;

        node.start = static_cast<std::uint32_t>(block);
        node.storedSize = static_cast<std::uint32_t>(stored.size());
        node.third = compressed ? static_cast<std::uint32_t>(bytes.size()) : 0;
        // An empty member still owns one block, so that its start lies inside the file.
        const std::uint64_t blocks = std::max<std::uint64_t>(1, (stored.size() + kBlockSize - 1) / kBlockSize);
        if (!sink.Append(stored) || !sink.AppendZeros(static_cast<std::size_t>(blocks * kBlockSize - stored.size())))
            return std::string("cannot write the archive");
        block += blocks;
    }

    // The index.
    std::vector<std::uint8_t> index(static_cast<std::size_t>(indexSize), 0);
    std::uint8_t flags = options.scramble ? kFlagScrambled : 0;
    // The egg flag tells how compressed members are read; it is set even when
    // no member got smaller, so the header states the method the archive was made with.
    if (!v5 && options.compression == Compression::Egg)
        flags |= kFlagEgg;
    index[0] = flags;
    index[1] = static_cast<std::uint8_t>(options.version);
    WriteU16(&index[2], static_cast<std::uint16_t>(count));
    if (v5) {
        std::uint8_t* table = &index[kHeader5Size];
        for (std::size_t e = 0; e < count; ++e) {
            const Node& node = nodes[order[e]];
            std::uint8_t* entry = table + e * kEntry5Size;
            std::memcpy(entry, node.storedName.data(), node.storedName.size());
            if (node.isDirectory)
                entry[0] |= kDirectoryBit5;
            WriteU32(entry + 20, node.start);
            WriteU32(entry + 24, node.storedSize);
            WriteU32(entry + 28, node.third);
        }
        if (options.scramble)
            ScrambleEntries5(std::span(table, kEntry5Size * count));
    } else {
        WriteU32(&index[4], static_cast<std::uint32_t>(nameTableSize));
        std::uint8_t* table = &index[kHeader6Size];
        std::uint8_t* names = table + kEntry6Size * count;
        for (std::size_t e = 0; e < count; ++e) {
            const Node& node = nodes[order[e]];
            std::uint8_t* entry = table + e * kEntry6Size;
            WriteU32(entry, static_cast<std::uint32_t>(nameOffsets[e]) | (node.isDirectory ? kDirectoryBit6 : 0));
            WriteU32(entry + 4, node.start);
            WriteU32(entry + 8, node.storedSize);
            WriteU32(entry + 12, node.third);
            std::memcpy(names + nameOffsets[e], node.storedName.data(), node.storedName.size());
        }
        if (options.scramble) {
            ScrambleEntries6(std::span(table, kEntry6Size * count));
            ScrambleNames6(std::span(names, static_cast<std::size_t>(nameTableSize)));
        }
    }
    if (!sink.WriteAtStart(index) || !sink.Finish())
        return std::string("cannot write the archive");
    return std::nullopt;
}

std::optional<std::string> SafBuilder::Build(std::vector<std::uint8_t>& out)
{
    MemorySink sink(out);
    auto error = m_impl->Write(sink);
    if (error)
        out.clear();
    return error;
}

std::optional<std::string> SafBuilder::WriteTo(const std::filesystem::path& out)
{
    if (auto error = m_impl->ErrorText())
        return error;
    // Written beside the target and renamed at the end, so that a failure
    // leaves an existing archive of that name as it was.
    fs::path partial = out;
    partial += ".partial";
    std::optional<std::string> error;
    {
        File file = CreateFileForWrite(partial);
        if (!file)
            return "cannot create " + partial.string();
        FileSink sink(file);
        error = m_impl->Write(sink);
        if (error && *error == "cannot write the archive")
            *error = "cannot write " + partial.string();
    }
    std::error_code fsError;
    if (!error) {
        fs::rename(partial, out, fsError);
        if (fsError)
            error = "cannot rename " + partial.string() + " to " + out.string() + ": " + fsError.message();
    }
    if (error)
        fs::remove(partial, fsError);
    return error;
}

std::optional<std::string> PackDirectory(const std::filesystem::path& source, const std::filesystem::path& out,
    const WriterOptions& options)
{
    std::error_code error;
    if (!fs::is_directory(source, error))
        return "not a folder: " + source.string();

    // The output may lie inside the folder being packed (an earlier run's
    // archive, say); it is never packed into itself. (Its ".partial" file is
    // created only after the walk.)
    const fs::path outFull = fs::weakly_canonical(out, error);

    SafBuilder builder(options);
    std::vector<std::string> problems;
    fs::recursive_directory_iterator it(source, fs::directory_options::none, error);
    if (error)
        return "cannot read the folder " + source.string() + ": " + error.message();
    for (; it != fs::recursive_directory_iterator(); it.increment(error)) {
        const fs::directory_entry& entry = *it;
        const fs::path relative = entry.path().lexically_relative(source);
        // File names on disk are taken as UTF-8.
        std::u16string member;
        for (const fs::path& part : relative) {
            if (!member.empty())
                member += u'/';
            member += Utf8ToUtf16(part.string());
        }
        std::error_code statusError;
        if (entry.is_symlink(statusError) && entry.is_directory(statusError)) {
            problems.push_back(Quoted(member) + ": links to folders are not followed");
        } else if (entry.is_directory(statusError)) {
            builder.AddDirectory(member);
        } else if (entry.is_regular_file(statusError)) {
            if (!outFull.empty() && fs::weakly_canonical(entry.path(), statusError) == outFull)
                continue;
            builder.AddFileFromDisk(member, entry.path());
        } else {
            problems.push_back(Quoted(member) + ": neither a file nor a folder");
        }
    }
    if (error)
        return "cannot read the folder " + source.string() + ": " + error.message();
    if (!problems.empty()) {
        std::string text;
        for (const std::string& p : problems)
            text += (text.empty() ? "" : "\n") + p;
        return text;
    }
    return builder.WriteTo(out);
}

} // namespace kestrel::saf
