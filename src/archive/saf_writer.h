// Writing SAF archives: the packer behind the `saf` tool and the tests.
//
// The engine itself never writes archives; this is for the tools that make
// game data. Members are added by "/"-separated paths (parent folders are
// created on the way) and laid out as docs/formats/saf.md describes: entry 0
// is the root, each folder's children are contiguous and sorted by their
// stored names, and member data starts on 2048-byte blocks after the index.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel::saf {

enum class Compression { None, Zlib, Egg };

struct WriterOptions {
    int version = 6;       // 5 or 6
    bool scramble = false; // scramble the index (flags bit 0)
    // Version 5: None or Zlib; version 6: any. A member that would not get
    // smaller is stored as it is.
    Compression compression = Compression::None;
};

// Collects folders and members, then writes the archive in one go. Problems
// with names and paths are collected as they are added and reported, all
// together, by Build or WriteTo.
class SafBuilder {
public:
    explicit SafBuilder(WriterOptions options);
    ~SafBuilder();
    SafBuilder(SafBuilder&&) noexcept;
    SafBuilder& operator=(SafBuilder&&) noexcept;

    // A folder, with its parents; adding one twice is harmless.
    void AddDirectory(std::u16string_view path);
    void AddFile(std::u16string_view path, std::vector<std::uint8_t> bytes);
    // The file is read when the archive is written.
    void AddFileFromDisk(std::u16string_view path, std::filesystem::path source);

    // The whole archive in memory. Returns the error text, or nothing on success.
    std::optional<std::string> Build(std::vector<std::uint8_t>& out);
    // The archive written to a file, one member in memory at a time. The
    // file is written as OUT.partial and renamed to `out` when complete; on
    // an error it is removed and an existing `out` stays as it was.
    std::optional<std::string> WriteTo(const std::filesystem::path& out);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// Packs every file and folder below `source` (sub-folders become folders of
// the archive) into `out`. Returns the error text, or nothing on success.
std::optional<std::string> PackDirectory(const std::filesystem::path& source, const std::filesystem::path& out,
    const WriterOptions& options);

} // namespace kestrel::saf
