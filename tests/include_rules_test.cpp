// Outside headers stay at the edges: each third-party library is included only
// by the folder or file that wraps it, window-system headers only by the
// player's back-end, operating-system headers only by the back-ends.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Rule {
    const char* what;
    // Header names: "name" matches exactly, "prefix*" matches the start.
    std::vector<std::string> headers;
    std::vector<std::string> allowedIn; // path prefixes relative to the source root
};

const std::vector<Rule>& Rules()
{
    static const std::vector<Rule> rules = {
        {"SDL", {"SDL*"}, {"src/platform/sdl/"}},
        {"Dear ImGui", {"imgui*", "backends/imgui*"}, {"src/platform/sdl/"}},
        {"iconv", {"iconv.h"}, {"src/core/cp932.cpp"}},
        {"FreeType/fontconfig", {"ft2build.h", "freetype/*", "fontconfig/*"}, {"src/dxdraw/font/"}},
        {"zlib", {"zlib.h"}, {"src/archive/zlib/"}},
        {"libpng", {"png.h", "pngconf.h"}, {"src/dxdraw/picture/png/"}},
        {"libjpeg", {"jpeglib.h", "jerror.h"}, {"src/dxdraw/picture/jpeg/"}},
        {"libtiff", {"tiff.h", "tiffio.h"}, {"src/dxdraw/picture/tiff/"}},
        {"vorbisfile", {"vorbis/*", "ogg/*"}, {"src/sound/vorbis/"}},
        {"SQLite", {"sqlite3.h"}, {"src/save/sqlite/"}},
        {"pixman", {"pixman*"}, {"bench/"}},
        {"operating system",
            {"unistd.h", "fcntl.h", "dlfcn.h", "pthread.h", "signal.h", "termios.h", "poll.h", "dirent.h",
                "windows.h", "winbase.h", "io.h", "direct.h", "sys/*", "linux/*", "mach/*"},
            {"src/platform/headless/", "src/platform/sdl/", "src/platform/posix/", "tests/platform/"}},
    };
    return rules;
}

bool StartsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool Matches(const Rule& rule, const std::string& header)
{
    for (const std::string& pattern : rule.headers) {
        if (pattern.back() == '*' ? StartsWith(header, pattern.substr(0, pattern.size() - 1)) : header == pattern)
            return true;
    }
    return false;
}

// The header named by an #include line, or "" for any other line.
std::string IncludedHeader(const std::string& line)
{
    std::size_t p = line.find_first_not_of(" \t");
    if (p == std::string::npos || line[p] != '#')
        return {};
    p = line.find_first_not_of(" \t", p + 1);
    if (p == std::string::npos || line.compare(p, 7, "include") != 0)
        return {};
    p = line.find_first_of("<\"", p + 7);
    if (p == std::string::npos)
        return {};
    const std::size_t end = line.find_first_of(">\"", p + 1);
    return end == std::string::npos ? std::string() : line.substr(p + 1, end - p - 1);
}

bool IsSourceFile(const fs::path& path)
{
    const std::string ext = path.extension().string();
    return ext == ".h" || ext == ".hpp" || ext == ".cpp" || ext == ".cc" || ext == ".c" || ext == ".y" || ext == ".inc";
}

bool Allowed(const Rule& rule, const std::string& relative)
{
    for (const std::string& prefix : rule.allowedIn) {
        if (StartsWith(relative, prefix))
            return true;
    }
    return false;
}

struct ScanResult {
    std::size_t filesChecked = 0;
    std::vector<std::string> violations;
};

ScanResult FindViolations(const fs::path& root)
{
    ScanResult result;
    for (const char* top : {"src", "tests", "tools", "bench", "fuzz"}) {
        if (!fs::exists(root / top))
            continue;
        for (const auto& entry : fs::recursive_directory_iterator(root / top)) {
            if (!entry.is_regular_file() || !IsSourceFile(entry.path()))
                continue;
            ++result.filesChecked;
            const std::string relative = fs::relative(entry.path(), root).generic_string();
            std::ifstream in(entry.path());
            std::string line;
            int lineNumber = 0;
            while (std::getline(in, line)) {
                ++lineNumber;
                const std::string header = IncludedHeader(line);
                if (header.empty())
                    continue;
                for (const Rule& rule : Rules()) {
                    if (Matches(rule, header) && !Allowed(rule, relative))
                        result.violations.push_back(relative + ":" + std::to_string(lineNumber) + ": " +
                            rule.what + " header <" + header + ">");
                }
            }
        }
    }
    return result;
}

TEST(IncludeRules, OutsideHeadersStayInTheirWrappers)
{
    const ScanResult result = FindViolations(KESTREL_SOURCE_DIR);
    EXPECT_GT(result.filesChecked, 0u) << "no sources found under " << KESTREL_SOURCE_DIR;
    for (const std::string& v : result.violations)
        ADD_FAILURE() << v;
}

TEST(IncludeRules, ScannerFindsMisplacedIncludes)
{
    const fs::path root = fs::temp_directory_path() / "kestrel_include_rules";
    fs::remove_all(root);
    fs::create_directories(root / "src/script");
    fs::create_directories(root / "src/platform/sdl");
    std::ofstream(root / "src/script/bad.cpp") << "#include <SDL.h>\n  #  include \"zlib.h\"\n#include <unistd.h>\n";
    std::ofstream(root / "src/platform/sdl/good.cpp") << "#include <SDL.h>\n#include <imgui.h>\n";
    const ScanResult result = FindViolations(root);
    fs::remove_all(root);
    EXPECT_EQ(result.filesChecked, 2u);
    ASSERT_EQ(result.violations.size(), 3u);
    EXPECT_EQ(result.violations[0], "src/script/bad.cpp:1: SDL header <SDL.h>");
    EXPECT_EQ(result.violations[1], "src/script/bad.cpp:2: zlib header <zlib.h>");
    EXPECT_EQ(result.violations[2], "src/script/bad.cpp:3: operating system header <unistd.h>");
}

} // namespace
