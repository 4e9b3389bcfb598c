// The platform layer: everything the engine needs from the operating system,
// behind one abstract class assembled from small services.
//
// Portable code talks only to these interfaces. Two back-ends implement them:
// headless (tests, CI, batch runs: a virtual clock, answered message boxes)
// and, for players, a windowed one. No back-end code lives in this folder's
// top level.
#pragma once

#include "core/rect.h"
#include "core/report.h"

#include <cstdint>
#include <filesystem>
#include <string_view>

namespace kestrel::platform {

using kestrel::Rect;

class Clock {
public:
    virtual ~Clock() = default;
    // Milliseconds from an arbitrary start, wrapping at 2^32; game time comes
    // only from here.
    virtual std::uint32_t Milliseconds() = 0;
    // A finer counter and its ticks per second, for profiling and frame pacing.
    virtual std::uint64_t HighResolutionCounter() = 0;
    virtual std::uint64_t HighResolutionFrequency() = 0;
    virtual void Sleep(std::uint32_t milliseconds) = 0;
};

class UserFolders {
public:
    virtual ~UserFolders() = default;
    // The folder under which the game keeps its per-user data (the user's
    // documents on Windows; $XDG_DATA_HOME elsewhere). KESTREL_USER_DIR
    // overrides it.
    virtual std::filesystem::path UserDataHome() = 0;
};

// A frame as the engine composes it: 32-bit pixels (blue, green, red, T with
// T = 255 - alpha), addressed top-down from `topLeft` with a signed pitch.
struct FrameView {
    const std::uint8_t* topLeft = nullptr;
    std::int32_t pitch = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
};

class Display {
public:
    virtual ~Display() = default;
    // Shows one rectangle of the frame (frame coordinates, already inside it).
    virtual void Present(const FrameView& frame, const Rect& rect) = 0;
};

class Platform {
public:
    virtual ~Platform() = default;

    virtual std::string_view Name() const = 0;
    virtual Clock& GetClock() = 0;
    // Message boxes and the debugger hooks of the assertion report.
    virtual MessageBoxHost& MessageBoxes() = 0;
    virtual UserFolders& Folders() = 0;
    virtual Display& GetDisplay() = 0;
};

// Routes core's message boxes to a platform for the lifetime of this object.
class ScopedMessageBoxHost {
public:
    explicit ScopedMessageBoxHost(Platform& platform) : m_previous(SetMessageBoxHost(&platform.MessageBoxes())) {}
    ~ScopedMessageBoxHost() { SetMessageBoxHost(m_previous); }
    ScopedMessageBoxHost(const ScopedMessageBoxHost&) = delete;
    ScopedMessageBoxHost& operator=(const ScopedMessageBoxHost&) = delete;

private:
    MessageBoxHost* m_previous;
};

} // namespace kestrel::platform
