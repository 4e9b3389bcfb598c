#include "archive/member_files.h"
#include "archive/saf_archive.h"
#include "core/format.h"
#include "core/report.h"

#include <system_error>

namespace kestrel {

namespace fs = std::filesystem;

namespace {

bool SameNameIgnoringAsciiCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

// The entry of `folder` named `name`: the exact name first, then (as on the
// case-blind file systems the game data was written on) a name that differs
// only in ASCII case.
std::optional<fs::path> FindChild(const fs::path& folder, const std::string& name)
{
    std::error_code error;
    const fs::path exact = folder / name;
    if (fs::exists(exact, error))
        return exact;
    // Iterated with error codes: a folder that changes or cannot be read
    // ends the search instead of throwing (members open on the sound thread too).
    fs::directory_iterator it(folder, error);
    for (; !error && it != fs::directory_iterator(); it.increment(error)) {
        if (SameNameIgnoringAsciiCase(it->path().filename().string(), name))
            return it->path();
    }
    return std::nullopt;
}

} // namespace

CDirArchive* CDirArchive::Create(const fs::path& path)
{
    std::error_code error;
    fs::path folder = fs::absolute(path, error);
    if (error || !fs::is_directory(folder, error))
        return nullptr;
    return new CDirArchive(folder);
}

HResult CDirArchive::QueryInterface(const Guid& iid, void** object)
{
    if (!object)
        return kResultPointer;
    if (iid == IUnknown::Iid || iid == IArchive::Iid) {
        AddRef();
        *object = static_cast<IArchive*>(this);
        return kResultOk;
    }
    *object = nullptr;
    return kResultNoInterface;
}

std::optional<fs::path> CDirArchive::Resolve(std::u16string_view path) const
{
    // A name the file system cannot represent names nothing.
    try {
        return ResolveComponents(path);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::optional<fs::path> CDirArchive::ResolveComponents(std::u16string_view path) const
{
    // Both separators divide components; an absolute path, an empty
    // component or ".." would leave the folder (or name nothing).
    fs::path current = m_folder;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != u'/' && path[i] != u'\\')
            continue;
        const std::u16string_view component = path.substr(start, i - start);
        start = i + 1;
        if (component.empty() || component == u".." || component == u".") {
            if (component == u"..")
                DebugOutput(Format(u"archive: a path leaves its folder: %s", path));
            return std::nullopt;
        }
        const std::optional<fs::path> child = FindChild(current, fs::path(component).string());
        if (!child)
            return std::nullopt;
        current = *child;
    }
    return current;
}

bool CDirArchive::Exists(std::u16string_view path)
{
    return Resolve(path).has_value();
}

IArchiveFile* CDirArchive::OpenFile(std::u16string_view path)
{
    const std::optional<fs::path> file = Resolve(path);
    std::error_code error;
    if (!file || !fs::is_regular_file(*file, error))
        return nullptr;
    const auto size = fs::file_size(*file, error);
    if (error)
        return nullptr;
    return CArchiveFile::Create(this, path, *file, 0, static_cast<std::int64_t>(size));
}

IMappingFile* CDirArchive::OpenMapped(std::u16string_view path)
{
    ComPtr<IArchiveFile> file = ComPtr<IArchiveFile>::Adopt(OpenFile(path));
    return file ? CMappingFile::Create(file.get()) : nullptr;
}

IArchive* CDirArchive::OpenArchive(std::u16string_view path)
{
    const std::optional<fs::path> file = Resolve(path);
    return file ? NewArchive6(*file) : nullptr;
}

std::vector<ArchiveEntryRecord>& CDirArchive::Enumerate(std::vector<ArchiveEntryRecord>& list)
{
    list.clear();
    return list;
}

IArchive* CDirArchive::Duplicate()
{
    AddRef();
    return this;
}

ICompressedFile* CDirArchive::OpenDecoded(std::u16string_view path)
{
    ComPtr<IArchiveFile> file = ComPtr<IArchiveFile>::Adopt(OpenFile(path));
    return file ? new CFlatFile(file.get()) : nullptr;
}

IArchive* NewDirArchive(const fs::path& path)
{
    return CDirArchive::Create(path);
}

} // namespace kestrel
