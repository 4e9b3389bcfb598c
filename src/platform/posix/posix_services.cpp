#include "platform/posix/posix_services.h"

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <string>

namespace kestrel::platform::posix {

namespace {

std::filesystem::path FromEnvironment(const char* name)
{
    const char* value = std::getenv(name);
    return (value && *value) ? std::filesystem::path(value) : std::filesystem::path();
}

} // namespace

std::filesystem::path ResolveUserDataHome()
{
    if (auto path = FromEnvironment("KESTREL_USER_DIR"); !path.empty())
        return path;
    // The XDG rules ignore a relative XDG_DATA_HOME.
    if (auto path = FromEnvironment("XDG_DATA_HOME"); !path.empty() && path.is_absolute())
        return path;
    if (auto home = FromEnvironment("HOME"); !home.empty())
        return home / ".local" / "share";
    return std::filesystem::current_path();
}

bool IsDebuggerAttached()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("TracerPid:", 0) == 0)
            return std::strtol(line.c_str() + 10, nullptr, 10) != 0;
    }
    return false;
}

void BreakIntoDebugger()
{
    std::raise(SIGTRAP);
}

} // namespace kestrel::platform::posix
