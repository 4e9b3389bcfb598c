// Pieces that every back-end on a POSIX system shares.
#pragma once

#include <filesystem>

namespace kestrel::platform::posix {

// KESTREL_USER_DIR, else $XDG_DATA_HOME, else $HOME/.local/share, else the
// current folder.
std::filesystem::path ResolveUserDataHome();

// True when a tracer (a debugger) is attached to this process.
bool IsDebuggerAttached();
void BreakIntoDebugger();

} // namespace kestrel::platform::posix
