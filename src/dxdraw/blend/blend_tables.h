// The fixed tables of the per-pixel blend kernels (internal to dxdraw).
//
// Every multiplication of the per-pixel form is a lookup here:
//   M(v, k) = floor(v * k / 255)   for v, k in 0 ... 255
//   S(v, L) = floor(v * L / 256)   for v in 0 ... 255, L in 0 ... 256
// and the transparency byte of the add and subtract alpha rules is looked up
// from the source and destination transparency bytes.
//
// The tables are built on first use (a function-local static, so the first
// use from several threads is safe) and never change afterwards.
#pragma once

#include <cstdint>

namespace DxDraw {

struct BlendTables {
    // multiply[k][v] = M(v, k). M is symmetric; a row is one weight.
    std::uint8_t multiply[256][256];
    // scale[L][v] = S(v, L). A row is one level.
    std::uint8_t scale[257][256];
    // addAlpha[Ts][Td]: T of alpha = min(255, A + Ad), that is max(0, Ts + Td - 255).
    std::uint8_t addAlpha[256][256];
    // subtractAlpha[Ts][Td]: T of alpha = max(0, Ad - A), that is 255 - max(0, Ts - Td).
    std::uint8_t subtractAlpha[256][256];
};

const BlendTables& Tables();

} // namespace DxDraw
