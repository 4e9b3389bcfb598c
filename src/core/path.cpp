#include "core/path.h"

namespace kestrel {

namespace {

constexpr std::size_t kMaxPartUnits = 255;

bool IsSeparator(char16_t c)
{
    return c == u'/' || c == u'\\';
}

std::u16string Part(std::u16string_view text)
{
    return std::u16string(text.substr(0, kMaxPartUnits));
}

} // namespace

PathParts SplitPath(std::u16string_view path)
{
    PathParts parts;
    if (path.size() >= 2 && path[1] == u':') {
        parts.drive = Part(path.substr(0, 2));
        path.remove_prefix(2);
    }
    std::size_t lastSeparator = std::u16string_view::npos;
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (IsSeparator(path[i]))
            lastSeparator = i;
    }
    if (lastSeparator != std::u16string_view::npos) {
        parts.directory = Part(path.substr(0, lastSeparator + 1));
        path.remove_prefix(lastSeparator + 1);
    }
    const std::size_t dot = path.rfind(u'.');
    if (dot != std::u16string_view::npos) {
        parts.extension = Part(path.substr(dot));
        path = path.substr(0, dot);
    }
    parts.name = Part(path);
    return parts;
}

std::u16string JoinPath(const PathParts& parts)
{
    std::u16string out = parts.drive;
    out += parts.directory;
    if (!parts.directory.empty() && !IsSeparator(parts.directory.back()))
        out += u'/';
    out += parts.name;
    if (!parts.extension.empty() && parts.extension.front() != u'.')
        out += u'.';
    out += parts.extension;
    return out;
}

std::u16string ComposePath(std::u16string_view path, std::optional<std::u16string_view> drive,
    std::optional<std::u16string_view> directory, std::optional<std::u16string_view> name,
    std::optional<std::u16string_view> extension)
{
    PathParts parts = SplitPath(path);
    if (drive)
        parts.drive = Part(*drive);
    if (directory)
        parts.directory = Part(*directory);
    if (name)
        parts.name = Part(*name);
    if (extension)
        parts.extension = Part(*extension);
    return JoinPath(parts);
}

} // namespace kestrel
