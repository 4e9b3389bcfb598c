#include "archive/egg.h"

#include <array>
#include <cstring>

namespace kestrel {

std::size_t EggDecode(std::span<const std::uint8_t> input, std::span<std::uint8_t> output)
{
    std::array<std::uint8_t, kEggRingSize> ring{}; // all zero, beyond the required 0 ... 4077
    std::size_t r = kEggStartPosition;
    std::size_t in = 0;
    std::size_t out = 0;
    unsigned flags = 0;
    while (out < output.size()) {
        flags >>= 1;
        if ((flags & 0x100) == 0) {
            if (in >= input.size())
                break;
            flags = input[in++] | 0xFF00u;
        }
        if (flags & 1) {
            if (in >= input.size())
                break;
            const std::uint8_t c = input[in++];
            output[out++] = c;
            ring[r] = c;
            r = (r + 1) & (kEggRingSize - 1);
            continue;
        }
        if (in >= input.size())
            break;
        const std::uint8_t b0 = input[in++];
        if (in >= input.size())
            break;
        const std::uint8_t b1 = input[in++];
        const std::size_t source = b0 | ((b1 & 0xF0u) << 4);
        const std::size_t length = (b1 & 0x0Fu) + kEggMinMatch;
        for (std::size_t i = 0; i < length && out < output.size(); ++i) {
            const std::uint8_t c = ring[(source + i) & (kEggRingSize - 1)];
            output[out++] = c;
            ring[r] = c;
            r = (r + 1) & (kEggRingSize - 1);
        }
    }
    return out;
}

std::uint64_t EggMaxUnpackedSize(std::uint64_t storedSize)
{
    // A group is one flag byte and up to eight 2-byte pairs of 18 bytes each.
    const std::uint64_t groups = storedSize / 17 + 1;
    return groups * 8 * kEggMaxMatch;
}

} // namespace kestrel
