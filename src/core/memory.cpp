#include "core/memory.h"

#include <cstdint>
#include <cstring>

namespace kestrel {

void SwapMemory(void* a, void* b, std::size_t bytes)
{
    auto* pa = static_cast<unsigned char*>(a);
    auto* pb = static_cast<unsigned char*>(b);
    // Four bytes at a time, then the rest one by one. memcpy keeps unaligned
    // blocks legal; the compiler turns it into plain loads and stores.
    for (; bytes >= 4; bytes -= 4, pa += 4, pb += 4) {
        std::uint32_t x, y;
        std::memcpy(&x, pa, 4);
        std::memcpy(&y, pb, 4);
        std::memcpy(pa, &y, 4);
        std::memcpy(pb, &x, 4);
    }
    for (; bytes > 0; --bytes, ++pa, ++pb) {
        const unsigned char t = *pa;
        *pa = *pb;
        *pb = t;
    }
}

} // namespace kestrel
