// The egg decoder: the first two bytes give the output size, the rest is the
// stream. The output buffer is exactly that size, so a write past it is caught.
#include "archive/egg.h"

#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    const std::size_t outputSize = data[0] | (data[1] << 8);
    std::vector<std::uint8_t> output(outputSize);
    const std::size_t produced = kestrel::EggDecode({data + 2, size - 2}, output);
    if (produced > outputSize)
        __builtin_trap();
    // Whatever comes out must survive the encoder's round trip.
    output.resize(produced);
    const std::vector<std::uint8_t> packed = kestrel::EggEncode(output);
    std::vector<std::uint8_t> again(produced);
    if (kestrel::EggDecode(packed, again) != produced || again != output)
        __builtin_trap();
    return 0;
}
