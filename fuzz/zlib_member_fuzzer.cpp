// A zlib member as the archives unpack it: the first three bytes give the
// unpacked size (up to 16 MiB), the rest is the stored member. Both the one
// call path and, for inputs of 128 KiB and more, the streaming path run.
#include "archive/member_files.h"

#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 3)
        return 0;
    const std::int64_t unpacked = data[0] | (data[1] << 8) | (data[2] << 16);
    auto* stored = new kestrel::CMemoryFile(std::vector<std::uint8_t>(data + 3, data + size));
    auto* reader = new kestrel::CZipFile(stored, unpacked);
    stored->Release();
    std::vector<std::uint8_t> output(static_cast<std::size_t>(unpacked));
    const std::int64_t produced = reader->ReadAll(output.data());
    reader->Release();
    if (produced < 0 || produced > unpacked)
        __builtin_trap();
    return 0;
}
