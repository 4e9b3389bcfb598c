// Picture decoders: file bytes in, a bottom-up bitmap out (header, colour
// table, rows padded to 4 bytes; 24-bit rows blue, green, red; 32-bit rows
// blue, green, red, alpha with 255 opaque). Each returns nothing for data it
// cannot decode, and never reads outside the bytes it is given.
#pragma once

#include "dxdraw/dib.h"

#include <cstdint>
#include <optional>
#include <span>

namespace DxDraw {

std::optional<DibBlock> DecodePng(std::span<const std::uint8_t> file);
std::optional<DibBlock> DecodeJpeg(std::span<const std::uint8_t> file);
std::optional<DibBlock> DecodeTiff(std::span<const std::uint8_t> file);

} // namespace DxDraw
