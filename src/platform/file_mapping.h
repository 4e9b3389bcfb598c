// Read-only memory mapping of a whole file, viewed a window at a time.
// Implemented by the operating-system layer (platform/posix on POSIX systems).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace kestrel {

class FileMapping {
public:
    // The file mapped read-only, or null when it cannot be opened.
    static std::unique_ptr<FileMapping> Open(const std::filesystem::path& path);
    // Views start on multiples of this (the page size).
    static std::size_t Granularity();

    ~FileMapping();
    FileMapping(const FileMapping&) = delete;
    FileMapping& operator=(const FileMapping&) = delete;

    std::uint64_t FileSize() const { return m_fileSize; }
    // Maps `bytes` bytes from `offset` (a multiple of Granularity()); null when
    // the range is empty, unaligned or leaves the file.
    const std::uint8_t* MapView(std::uint64_t offset, std::size_t bytes);
    void UnmapView(const std::uint8_t* address);

private:
    FileMapping(int descriptor, std::uint64_t size) : m_descriptor(descriptor), m_fileSize(size) {}

    int m_descriptor;
    std::uint64_t m_fileSize;
    std::mutex m_lock;
    std::unordered_map<const std::uint8_t*, std::size_t> m_views;
};

} // namespace kestrel
