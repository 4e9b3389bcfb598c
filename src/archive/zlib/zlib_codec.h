// The only user of zlib in the engine: inflating members and, for the packer,
// deflating them.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

namespace kestrel::zlib {

enum class InflateResult { Ok, StreamEnd, Error };

// One call over the whole input with an output window of output.size()
// bytes; `produced` receives the bytes written.
InflateResult InflateOnce(std::span<const std::uint8_t> input, std::span<std::uint8_t> output, std::size_t& produced);

// Inflates input that arrives in pieces. `refill` fills the buffer it is given
// and returns the number of bytes it put there (0 at the end). Output goes to
// `output` in windows of `window` bytes and never past its end. Returns the
// bytes produced, or nothing on a zlib error or input that ends early.
std::optional<std::size_t> InflateStream(const std::function<std::size_t(std::span<std::uint8_t>)>& refill,
    std::size_t inputBufferSize, std::span<std::uint8_t> output, std::size_t window);

// A zlib stream (with header) of `input` at the best compression.
std::vector<std::uint8_t> Deflate(std::span<const std::uint8_t> input);

// The most bytes a zlib stream of `storedSize` bytes can produce.
std::uint64_t MaxInflatedSize(std::uint64_t storedSize);

} // namespace kestrel::zlib
