// Splitting and joining paths the way the engine's folder logic expects:
// drive ("C:" or nothing), directory (with its trailing separator), name and
// extension (with its dot). Both '/' and '\' separate directories.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kestrel {

struct PathParts {
    std::u16string drive;
    std::u16string directory;
    std::u16string name;
    std::u16string extension;
};

// Each part holds at most 255 units.
PathParts SplitPath(std::u16string_view path);
std::u16string JoinPath(const PathParts& parts);

// Splits `path`, replaces each part that is given, and joins the four.
std::u16string ComposePath(std::u16string_view path, std::optional<std::u16string_view> drive,
    std::optional<std::u16string_view> directory, std::optional<std::u16string_view> name,
    std::optional<std::u16string_view> extension);

} // namespace kestrel
