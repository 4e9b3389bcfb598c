#include "dxdraw/blend/blend_tables.h"

#include "dxdraw/blend.h"

#include <memory>

namespace DxDraw {

namespace {

std::unique_ptr<BlendTables> BuildTables()
{
    auto tables = std::make_unique<BlendTables>();
    for (int k = 0; k < 256; ++k) {
        for (int v = 0; v < 256; ++v)
            tables->multiply[k][v] = static_cast<std::uint8_t>(v * k / 255);
    }
    for (int level = 0; level <= 256; ++level) {
        for (int v = 0; v < 256; ++v)
            tables->scale[level][v] = static_cast<std::uint8_t>(v * level / 256);
    }
    for (int ts = 0; ts < 256; ++ts) {
        for (int td = 0; td < 256; ++td) {
            const int sum = ts + td - 255;
            tables->addAlpha[ts][td] = static_cast<std::uint8_t>(sum > 0 ? sum : 0);
            const int difference = ts - td;
            tables->subtractAlpha[ts][td] = static_cast<std::uint8_t>(255 - (difference > 0 ? difference : 0));
        }
    }
    return tables;
}

} // namespace

const BlendTables& Tables()
{
    // Built once; the tables live until the program ends.
    static const std::unique_ptr<BlendTables> tables = BuildTables();
    return *tables;
}

std::uint8_t TableM(std::uint8_t v, std::uint8_t k)
{
    return Tables().multiply[k][v];
}

std::uint8_t TableS(std::uint8_t v, std::int32_t level)
{
    // Levels outside 0 ... 256 are clamped, as the kernels do.
    const std::int32_t row = level < 0 ? 0 : level > 256 ? 256 : level;
    return Tables().scale[row][v];
}

} // namespace DxDraw
