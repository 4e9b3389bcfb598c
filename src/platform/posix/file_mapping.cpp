#include "platform/file_mapping.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrel {

std::unique_ptr<FileMapping> FileMapping::Open(const std::filesystem::path& path)
{
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0)
        return nullptr;
    struct stat info {};
    if (::fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(descriptor);
        return nullptr;
    }
    return std::unique_ptr<FileMapping>(new FileMapping(descriptor, static_cast<std::uint64_t>(info.st_size)));
}

std::size_t FileMapping::Granularity()
{
    static const std::size_t pageSize = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    return pageSize;
}

FileMapping::~FileMapping()
{
    for (const auto& [address, length] : m_views)
        ::munmap(const_cast<std::uint8_t*>(address), length);
    ::close(m_descriptor);
}

const std::uint8_t* FileMapping::MapView(std::uint64_t offset, std::size_t bytes)
{
    // Pages past the end of the file cannot be touched (they fault), so a view
    // must lie inside the file.
    if (bytes == 0 || offset % Granularity() != 0 || offset > m_fileSize || bytes > m_fileSize - offset)
        return nullptr;
    void* view = ::mmap(nullptr, bytes, PROT_READ, MAP_PRIVATE, m_descriptor, static_cast<off_t>(offset));
    if (view == MAP_FAILED)
        return nullptr;
    const auto* address = static_cast<const std::uint8_t*>(view);
    std::lock_guard guard(m_lock);
    m_views.emplace(address, bytes);
    return address;
}

void FileMapping::UnmapView(const std::uint8_t* address)
{
    std::lock_guard guard(m_lock);
    const auto it = m_views.find(address);
    if (it == m_views.end())
        return;
    ::munmap(const_cast<std::uint8_t*>(it->first), it->second);
    m_views.erase(it);
}

} // namespace kestrel
