#pragma once

#include <cstddef>

namespace kestrel {

// Exchanges the contents of two blocks of `bytes` bytes (which must not overlap).
void SwapMemory(void* a, void* b, std::size_t bytes);

} // namespace kestrel
