// Files through the C library: portable, and one handle per owner, so that
// two threads never share a file position.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace kestrel {

enum class SeekMethod { Begin, Current, End };

class File {
public:
    enum class Mode { Read, CreateForWrite };

    File() = default;
    File(const std::filesystem::path& path, Mode mode);

    bool IsOpen() const { return m_handle != nullptr; }
    explicit operator bool() const { return IsOpen(); }

    // Bytes read or written (fewer at the end of the file or on an error).
    std::size_t Read(std::span<std::uint8_t> buffer);
    std::size_t Write(std::span<const std::uint8_t> bytes);
    bool WriteAll(std::span<const std::uint8_t> bytes) { return Write(bytes) == bytes.size(); }
    // The size in bytes, or -1.
    std::int64_t Size();
    bool Flush();
    void Close() { m_handle.reset(); }

    friend std::int64_t Seek64(File& file, std::int64_t offset, SeekMethod method);

private:
    struct Closer {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, Closer> m_handle;
};

// Moves the file position; returns the new position, or -1 when it fails.
std::int64_t Seek64(File& file, std::int64_t offset, SeekMethod method);

// The whole file, or nothing when it cannot be opened or read.
std::optional<std::vector<std::uint8_t>> ReadWholeFile(const std::filesystem::path& path);

// Creates or truncates a file for writing; check IsOpen().
File CreateFileForWrite(const std::filesystem::path& path);

} // namespace kestrel
