#include "core/file.h"

#include <limits>

namespace kestrel {

namespace {

int Whence(SeekMethod method)
{
    switch (method) {
    case SeekMethod::Begin:
        return SEEK_SET;
    case SeekMethod::Current:
        return SEEK_CUR;
    case SeekMethod::End:
        return SEEK_END;
    }
    return SEEK_SET;
}

} // namespace

File::File(const std::filesystem::path& path, Mode mode)
{
    // The C library opens a directory for reading and fails only on the read.
    std::error_code error;
    if (std::filesystem::is_directory(path, error))
        return;
#if defined(_WIN32)
    m_handle.reset(_wfopen(path.c_str(), mode == Mode::Read ? L"rb" : L"wb"));
#else
    m_handle.reset(std::fopen(path.c_str(), mode == Mode::Read ? "rb" : "wb"));
#endif
}

std::size_t File::Read(std::span<std::uint8_t> buffer)
{
    if (!m_handle || buffer.empty())
        return 0;
    return std::fread(buffer.data(), 1, buffer.size(), m_handle.get());
}

std::size_t File::Write(std::span<const std::uint8_t> bytes)
{
    if (!m_handle || bytes.empty())
        return 0;
    return std::fwrite(bytes.data(), 1, bytes.size(), m_handle.get());
}

std::int64_t File::Size()
{
    const std::int64_t here = Seek64(*this, 0, SeekMethod::Current);
    if (here < 0)
        return -1;
    const std::int64_t size = Seek64(*this, 0, SeekMethod::End);
    Seek64(*this, here, SeekMethod::Begin);
    return size;
}

bool File::Flush()
{
    return m_handle && std::fflush(m_handle.get()) == 0;
}

std::int64_t Seek64(File& file, std::int64_t offset, SeekMethod method)
{
    std::FILE* f = file.m_handle.get();
    if (!f)
        return -1;
#if defined(_WIN32)
    if (_fseeki64(f, offset, Whence(method)) != 0)
        return -1;
    return _ftelli64(f);
#else
    static_assert(sizeof(off_t) >= 8, "64-bit file offsets are needed");
    if (fseeko(f, static_cast<off_t>(offset), Whence(method)) != 0)
        return -1;
    return static_cast<std::int64_t>(ftello(f));
#endif
}

std::optional<std::vector<std::uint8_t>> ReadWholeFile(const std::filesystem::path& path)
{
    File file(path, File::Mode::Read);
    if (!file)
        return std::nullopt;
    const std::int64_t size = file.Size();
    if (size < 0 || static_cast<std::uint64_t>(size) > std::numeric_limits<std::size_t>::max() / 2)
        return std::nullopt;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    if (file.Read(bytes) != bytes.size())
        return std::nullopt;
    return bytes;
}

File CreateFileForWrite(const std::filesystem::path& path)
{
    return File(path, File::Mode::CreateForWrite);
}

} // namespace kestrel
