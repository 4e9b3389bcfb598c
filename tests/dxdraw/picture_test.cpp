// Picture files: the PNG, JPEG and TIFF decoders, the bitmaps they hand over
// as LoadDib sees them, and the loader's extension order and error texts.
//
// The files are written at test time by the writers in picture_testing.h
// (libpng, libjpeg and libtiff themselves), so every fixture says in code what
// it holds.
#include "archive/archive.h"
#include "core/combase.h"
#include "core/exception.h"
#include "core/report.h"
#include "dxdraw/dib.h"
#include "dxdraw/picture/decoders.h"
#include "dxdraw/picture/picture.h"
#include "dxdraw/picture/picture_testing.h"
#include "dxdraw/surface.h"
#include "platform/headless/headless_platform.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace DxDraw {
namespace {

namespace fs = std::filesystem;
using testing::PngColour;
using testing::PngPicture;
using testing::TiffPicture;
using Bytes = std::vector<std::uint8_t>;
using Pixel = std::array<std::uint8_t, 4>; // blue, green, red, T (255 - alpha)

// Quiets and records what the decoders report: boxes are logged and answered
// by the headless back-end, debug lines are captured.
class PictureTest : public ::testing::Test {
protected:
    kestrel::platform::HeadlessPlatform m_platform;
    kestrel::platform::ScopedMessageBoxHost m_host{m_platform};
    kestrel::test::DebugCapture m_debug;
};

using PicturePng = PictureTest;
using PictureJpeg = PictureTest;
using PictureTiff = PictureTest;

SurfacePtr LoadIntoSurface(DibBlock& dib)
{
    SurfacePtr surface(CreateSurface(32));
    EXPECT_TRUE(surface->LoadDib(dib.bytes(), std::nullopt));
    return surface;
}

Pixel At(const DxImage& image, std::int32_t x, std::int32_t y)
{
    const std::uint8_t* p = image.PixelAddress(x, y);
    return {p[0], p[1], p[2], p[3]};
}

// Opaque pixel of the given colour as the surface stores it.
Pixel Rgb(std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t alpha = 255)
{
    return {b, g, r, static_cast<std::uint8_t>(255 - alpha)};
}

std::array<std::uint8_t, 4> TableEntry(DibBlock& dib, std::size_t i)
{
    const auto table = dib.colours();
    return {table[i * 4], table[i * 4 + 1], table[i * 4 + 2], table[i * 4 + 3]};
}

void ExpectNear(const Pixel& actual, const Pixel& expected, int tolerance, const char* where)
{
    for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(actual[c], expected[c], tolerance) << where << ", channel " << c;
    EXPECT_EQ(actual[3], expected[3]) << where << ", transparency";
}

std::uint32_t Crc32(const std::uint8_t* data, std::size_t size)
{
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void PutBigEndian32(std::uint8_t* p, std::uint32_t v)
{
    p[0] = static_cast<std::uint8_t>(v >> 24);
    p[1] = static_cast<std::uint8_t>(v >> 16);
    p[2] = static_cast<std::uint8_t>(v >> 8);
    p[3] = static_cast<std::uint8_t>(v);
}

// --- PNG --------------------------------------------------------------------

// Three colours in a 3 x 2 picture; row 1 reverses row 0.
PngPicture PalettePicture()
{
    PngPicture p;
    p.width = 3;
    p.height = 2;
    p.colour = PngColour::Palette;
    p.bitDepth = 8;
    p.palette = {{{200, 10, 20}}, {{0, 128, 255}}, {{7, 8, 9}}};
    p.pixels = {0, 1, 2, 2, 1, 0};
    return p;
}

TEST_F(PicturePng, PaletteWithoutTransparencyIsAnOpaque8BitBitmap)
{
    std::optional<DibBlock> dib = DecodePng(testing::EncodePngForTest(PalettePicture()));
    ASSERT_TRUE(dib);
    EXPECT_EQ(dib->header().bitCount, 8);
    EXPECT_EQ(dib->header().width, 3);
    EXPECT_EQ(dib->header().height, 2);
    EXPECT_EQ(dib->header().clrUsed, 3u);
    ASSERT_EQ(dib->colours().size(), 12u);
    EXPECT_EQ(TableEntry(*dib, 0), (std::array<std::uint8_t, 4>{20, 10, 200, 0}));
    EXPECT_EQ(TableEntry(*dib, 1), (std::array<std::uint8_t, 4>{255, 128, 0, 0}));
    // Bottom-up: the picture's first row is the bitmap's last.
    EXPECT_EQ(dib->row(1)[0], 0);
    EXPECT_EQ(dib->row(0)[0], 2);

    const SurfacePtr surface = LoadIntoSurface(*dib);
    EXPECT_EQ(At(*surface, 0, 0), Rgb(200, 10, 20));
    EXPECT_EQ(At(*surface, 1, 0), Rgb(0, 128, 255));
    EXPECT_EQ(At(*surface, 2, 0), Rgb(7, 8, 9));
    EXPECT_EQ(At(*surface, 0, 1), Rgb(7, 8, 9));
    EXPECT_EQ(At(*surface, 2, 1), Rgb(200, 10, 20));
    EXPECT_TRUE(m_platform.MessageBoxLog().empty());
}

TEST_F(PicturePng, PaletteWithTransparencyGivesPerPixelAlpha)
{
    PngPicture p = PalettePicture();
    p.paletteAlpha = {255, 128, 0};
    std::optional<DibBlock> dib = DecodePng(testing::EncodePngForTest(p));
    ASSERT_TRUE(dib);
    EXPECT_EQ(dib->header().bitCount, 32);
    EXPECT_TRUE(dib->colours().empty());
    const SurfacePtr surface = LoadIntoSurface(*dib);
    EXPECT_EQ(At(*surface, 0, 0), Rgb(200, 10, 20, 255));
    EXPECT_EQ(At(*surface, 1, 0), Rgb(0, 128, 255, 128));
    EXPECT_EQ(At(*surface, 2, 0), Rgb(7, 8, 9, 0));
    EXPECT_EQ(At(*surface, 0, 1), Rgb(7, 8, 9, 0));
}

TEST_F(PicturePng, TwoBitPaletteIsUnpackedTo8Bits)
{
    PngPicture p = PalettePicture();
    p.bitDepth = 2;
    p.width = 5;
    p.height = 1;
    p.pixels = {0b00011000, 0b01000000}; // 0 1 2 0 1
    std::optional<DibBlock> dib = DecodePng(testing::EncodePngForTest(p));
    ASSERT_TRUE(dib);
    EXPECT_EQ(dib->header().bitCount, 8);
    EXPECT_EQ(dib->header().clrUsed, 3u);
    const SurfacePtr surface = LoadIntoSurface(*dib);
    EXPECT_EQ(At(*surface, 0, 0), Rgb(200, 10, 20));
    EXPECT_EQ(At(*surface, 1, 0), Rgb(0, 128, 255));
    EXPECT_EQ(At(*surface, 2, 0), Rgb(7, 8, 9));
    EXPECT_EQ(At(*surface, 3, 0), Rgb(200, 10, 20));
    EXPECT_EQ(At(*surface, 4, 0), Rgb(0, 128, 255));
}

TEST_F(PicturePng, FourBitPaletteKeepsItsDepth)
{
    PngPicture p = PalettePicture();
    p.bitDepth = 4;
    p.width = 3;
    p.height = 1;
    p.pixels = {0x21, 0x00}; // 2 1 0
    std::optional<DibBlock> dib = DecodePng(testing::EncodePngForTest(p));
    ASSERT_TRUE(dib);
    EXPECT_EQ(dib->header().bitCount, 4);
    EXPECT_EQ(dib->row(0)[0], 0x21);
    EXPECT_EQ(dib->row(0)[1], 0x00);
    const SurfacePtr surface = LoadIntoSurface(*dib);
    EXPECT_EQ(At(*surface, 0, 0), Rgb(7, 8, 9));
    EXPECT_EQ(At(*surface, 2, 0), Rgb(200, 10, 20));
}

TEST_F(PicturePng, Grey8BitHasAFullGreyRamp)
{
    PngPicture p;
    p.width = 4;
    p.height = 1;
    p.colour = PngColour::Grey;
    p.pixels = {0, 1, 128, 255};
    std::optional<DibBlock> dib = DecodePng(testing::EncodePngForTest(p));
    ASSERT_TRUE(dib);
    EXPECT_EQ(dib->header().bitCount, 8);
    EXPECT_EQ(dib->header().clrUsed, 256u);
    EXPECT_EQ(TableEntry(*dib, 200), (std::array<std::uint8_t, 4>{200, 200, 200, 0}));
    const SurfacePtr surface = LoadIntoSurface(*dib);
    EXPECT_EQ(At(*surface, 0, 0), Rgb(0, 0, 0));
    EXPECT_EQ(At(*surface, 1, 0), Rgb(1, 1, 1));
    EXPECT_EQ(At(*surface, 2, 0), Rgb(128, 128, 128));
    EXPECT_EQ(At(*surface, 3, 0), Rgb(255, 255, 255));
}

TEST_F(PicturePng, GreyBelow8BitsGetsARampOfItsOwnDepth)
{
    struct Case {
        int depth;
        std::uint8_t packed;
        std::uint16_t bitCount;
        std::vector<std::uint8_t> expected; // the grey of pixels 0 and 1
    };
    const std::vector<Case> cases = {
        {1, 0b10000000, 1, {255, 0}},
        {2, 0b11010000, 8, {255, 85}}, // unpacked to one byte a pixel, 4-entry ramp
        {4, 0xF5, 4, {255, 85}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.depth);
        PngPicture p;
        p.width = 2;
        p.height = 1;
        p.colour = PngColour::Grey;
        p.bitDepth = c.depth;
        p.pixels = {c.packed};
        std::optional<DibBlock> dib = DecodePng(testing::EncodePngForTest(p));
        ASSERT_TRUE(dib);
        EXPECT_EQ(dib->header().bitCount, c.bitCount);
        const std::uint32_t entries = 1u << c.depth;
        EXPECT_EQ(dib->header().clrUsed, entries);
        EXPECT_EQ(TableEntry(*dib, entries - 1), (std::array<std::uint8_t, 4>{255, 255, 255, 0}));
        EXPECT_EQ(TableEntry(*dib, 0), (std::array<std::uint8_t, 4>{0, 0, 0, 0}));
        const SurfacePtr surface = LoadIntoSurface(*dib);
        EXPECT_EQ(At(*surface, 0, 0), Rgb(c.expected[0], c.expected[0], c.expected[0]));
        EXPECT_EQ(At(*surface, 1, 0), Rgb(c.expected[1], c.expected[1], c.expected[1]));
    }
}

TEST_F(PicturePng, GreyWithTransparencyOrAlphaBecomesColourWithAlpha)
{
    PngPicture keyed;
    keyed.width = 2;
    keyed.height = 1;
    keyed.colour = PngColour::Grey;
    keyed.pixels = {7, 90};
    keyed.transparentColour = std::array<std::uint16_t, 3>{7, 0, 0};
    std::optional<DibBlock> dib = DecodePng(testing::EncodePngForTest(keyed));
    ASSERT_TRUE(dib);
    EXPECT_EQ(dib->header().bitCount, 32);
    SurfacePtr surface = LoadIntoSurface(*dib);
    EXPECT_EQ(At(*surface, 0, 0), Rgb(7, 7, 7, 0));
    EXPECT_EQ(At(*surface, 1, 0), Rgb(90, 90, 90, 255));

    PngPicture withAlpha;
    withAlpha.width = 2;
    withAlpha.height = 1;
    withAlpha.colour = PngColour::GreyAlpha;
    withAlpha.pixels = {60, 200, 250, 255};
    dib = DecodePng(testing::EncodePngForTest(withAlpha));
    ASSERT_TRUE(dib);
    EXPECT_EQ(dib->header().bitCount, 32);
    surface = LoadIntoSurface(*dib);
    EXPECT_EQ(At(*surface, 0, 0), Rgb(60, 60, 60, 200));
    EXPECT_EQ(At(*surface, 1, 0), Rgb(250, 250, 250, 255));
}

TEST_F(PicturePng, RgbIs24BitAndRgbWithTransparencyIs32Bit)
{
    PngPicture p;
    p.width = 2;
    p.height = 2;
    p.colour = PngColour::Rgb;
    p.pixels = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    std::optional<DibBlock> dib = DecodePng(testing::EncodePngForTest(p));
    ASSERT_TRUE(dib);
    EXPECT_EQ(dib->header().bitCount, 24);
    EXPECT_EQ(dib->header().clrUsed, 0u);
    // Blue first, bottom-up, rows padded to 8 bytes.
    EXPECT_EQ(dib->rowBytes(), 8u);
    EXPECT_EQ(Bytes(dib->row(1), dib->row(1) + 8), (Bytes{3, 2, 1, 6, 5, 4, 0, 0}));
    SurfacePtr surface = LoadIntoSurface(*dib);
    EXPECT_EQ(At(*surface, 0, 0), Rgb(1, 2, 3));
    EXPECT_EQ(At(*surface, 1, 1), Rgb(10, 11, 12));

    p.transparentColour = std::array<std::uint16_t, 3>{4, 5, 6};
    dib = DecodePng(testing::EncodePngForTest(p));
    ASSERT_TRUE(dib);
    EXPECT_EQ(dib->header().bitCount, 32);
    surface = LoadIntoSurface(*dib);
    EXPECT_EQ(At(*surface, 0, 0), Rgb(1, 2, 3, 255));
    EXPECT_EQ(At(*surface, 1, 0), Rgb(4, 5, 6, 0));
}

TEST_F(PicturePng, RgbaKeepsItsAlpha)
{
    PngPicture p;
    p.width = 2;
    p.height = 1;
    p.colour = PngColour::Rgba;
    p.pixels = {10, 20, 30, 0, 40, 50, 60, 255};
    std::optional<DibBlock> dib = DecodePng(testing::EncodePngForTest(p));
    ASSERT_TRUE(dib);
    EXPECT_EQ(dib->header().bitCount, 32);
    EXPECT_EQ(Bytes(dib->row(0), dib->row(0) + 8), (Bytes{30, 20, 10, 0, 60, 50, 40, 255}));
    const SurfacePtr surface = LoadIntoSurface(*dib);
    EXPECT_EQ(At(*surface, 0, 0), Rgb(10, 20, 30, 0));
    EXPECT_EQ(At(*surface, 1, 0), Rgb(40, 50, 60, 255));
}

TEST_F(PicturePng, SixteenBitChannelsKeepTheirHighByte)
{
    PngPicture p;
    p.width = 1;
    p.height = 1;
    p.colour = PngColour::Rgb;
    p.bitDepth = 16;
    p.pixels = {0x12, 0x34, 0xAB, 0xCD, 0xFF, 0x80};
    std::optional<DibBlock> dib = DecodePng(testing::EncodePngForTest(p));
    ASSERT_TRUE(dib);
    EXPECT_EQ(dib->header().bitCount, 24);
    const SurfacePtr surface = LoadIntoSurface(*dib);
    EXPECT_EQ(At(*surface, 0, 0), Rgb(0x12, 0xAB, 0xFF));
}

TEST_F(PicturePng, InterlacedReadsLikeProgressive)
{
    PngPicture p;
    p.width = 9;
    p.height = 7;
    p.colour = PngColour::Rgb;
    std::mt19937 random(7);
    for (std::uint32_t i = 0; i < p.width * p.height * 3; ++i)
        p.pixels.push_back(static_cast<std::uint8_t>(random()));
    std::optional<DibBlock> plain = DecodePng(testing::EncodePngForTest(p));
    p.interlaced = true;
    std::optional<DibBlock> interlaced = DecodePng(testing::EncodePngForTest(p));
    ASSERT_TRUE(plain && interlaced);
    EXPECT_EQ(Bytes(plain->bytes().begin(), plain->bytes().end()),
        Bytes(interlaced->bytes().begin(), interlaced->bytes().end()));
}

TEST_F(PicturePng, OneBitRowsKeepTheirLastPixel)
{
    // 33 pixels of 1 bit: 5 bytes of each 8-byte bitmap row hold pixels.
    PngPicture p;
    p.width = 33;
    p.height = 3;
    p.colour = PngColour::Grey;
    p.bitDepth = 1;
    p.pixels.assign(5 * 3, 0xAA);
    std::optional<DibBlock> dib = DecodePng(testing::EncodePngForTest(p));
    ASSERT_TRUE(dib);
    EXPECT_EQ(dib->header().bitCount, 1);
    EXPECT_EQ(dib->rowBytes(), 8u);
    EXPECT_EQ(dib->row(0)[0], 0xAA);
    EXPECT_EQ(dib->row(0)[4] & 0x80, 0x80);
    const SurfacePtr surface = LoadIntoSurface(*dib);
    EXPECT_EQ(At(*surface, 31, 2), Rgb(0, 0, 0));
    EXPECT_EQ(At(*surface, 32, 2), Rgb(255, 255, 255));
}

TEST_F(PicturePng, WarningsGoToTheDebugOutputNotABox)
{
    PngPicture p = PalettePicture();
    Bytes file = testing::EncodePngForTest(p);
    // An ancillary chunk with a wrong CRC after IHDR (8 + 25 bytes in).
    const Bytes chunk = {0, 0, 0, 3, 't', 'E', 'X', 't', 'a', 0, 'b', 0xDE, 0xAD, 0xBE, 0xEF};
    file.insert(file.begin() + 33, chunk.begin(), chunk.end());
    ASSERT_TRUE(DecodePng(file));
    EXPECT_TRUE(m_platform.MessageBoxLog().empty());
    bool warned = false;
    for (const std::u16string& line : m_debug.lines())
        warned = warned || line.rfind(u"libpng warning: ", 0) == 0;
    EXPECT_TRUE(warned);
}

TEST_F(PicturePng, ErrorsShowTheLibraryBoxAndGiveNothing)
{
    Bytes file = testing::EncodePngForTest(PalettePicture());
    file[42] ^= 0xFF; // inside PLTE: its CRC no longer matches
    EXPECT_FALSE(DecodePng(file));
    ASSERT_EQ(m_platform.MessageBoxLog().size(), 1u);
    const kestrel::MessageBoxRequest& box = m_platform.MessageBoxLog()[0].request;
    EXPECT_EQ(box.caption, u"libpng error");
    EXPECT_EQ(box.icon, kestrel::MessageBoxIcon::Error);
    EXPECT_FALSE(box.text.empty());
}

TEST_F(PicturePng, OversizedHeaderIsRefused)
{
    Bytes file = testing::EncodePngForTest(PalettePicture());
    PutBigEndian32(&file[16], 100000); // IHDR width
    PutBigEndian32(&file[29], Crc32(&file[12], 17));
    EXPECT_FALSE(DecodePng(file));
    ASSERT_EQ(m_platform.MessageBoxLog().size(), 1u);
    EXPECT_EQ(m_platform.MessageBoxLog()[0].request.caption, u"libpng error");
}

TEST_F(PicturePng, CutAnywhereNeverCrashes)
{
    PngPicture p;
    p.width = 6;
    p.height = 5;
    p.colour = PngColour::Rgba;
    p.interlaced = true;
    p.pixels.assign(6 * 5 * 4, 0x5A);
    const Bytes file = testing::EncodePngForTest(p);
    for (std::size_t size = 0; size < file.size(); ++size) {
        const Bytes cut(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(size));
        EXPECT_FALSE(DecodePng(cut)) << size;
    }
    EXPECT_TRUE(DecodePng(file));
}

// --- JPEG -------------------------------------------------------------------

// A 16 x 16 picture in four flat quadrants: red, green / blue, white.
Bytes QuadrantPixels()
{
    Bytes rgb;
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            const bool right = x >= 8;
            const bool bottom = y >= 8;
            const std::array<std::uint8_t, 3> colour = !bottom ? (right ? std::array<std::uint8_t, 3>{0, 255, 0}
                                                                        : std::array<std::uint8_t, 3>{255, 0, 0})
                : right                                    ? std::array<std::uint8_t, 3>{255, 255, 255}
                                                           : std::array<std::uint8_t, 3>{0, 0, 255};
            rgb.insert(rgb.end(), colour.begin(), colour.end());
        }
    }
    return rgb;
}

constexpr int kJpegTolerance = 16;

// Where the entropy-coded data starts: after the start-of-scan header.
std::size_t ScanStart(const Bytes& file)
{
    for (std::size_t i = 0; i + 3 < file.size(); ++i) {
        if (file[i] == 0xFF && file[i + 1] == 0xDA)
            return i + 2 + (std::size_t{file[i + 2]} << 8 | file[i + 3]);
    }
    return file.size();
}

TEST_F(PictureJpeg, DecodesTo24BitWithApproximatelyTheColours)
{
    const Bytes file = testing::EncodeJpegForTest(16, 16, 3, QuadrantPixels(), 95);
    ASSERT_FALSE(file.empty());
    std::optional<DibBlock> dib = DecodeJpeg(file);
    ASSERT_TRUE(dib);
    EXPECT_EQ(dib->header().bitCount, 24);
    EXPECT_EQ(dib->header().width, 16);
    EXPECT_EQ(dib->header().height, 16);
    EXPECT_EQ(dib->header().sizeImage, 48u * 16);
    EXPECT_EQ(dib->header().clrUsed, 0u);
    const SurfacePtr surface = LoadIntoSurface(*dib);
    ExpectNear(At(*surface, 3, 3), Rgb(255, 0, 0), kJpegTolerance, "top left");
    ExpectNear(At(*surface, 12, 3), Rgb(0, 255, 0), kJpegTolerance, "top right");
    ExpectNear(At(*surface, 3, 12), Rgb(0, 0, 255), kJpegTolerance, "bottom left");
    ExpectNear(At(*surface, 12, 12), Rgb(255, 255, 255), kJpegTolerance, "bottom right");
}

TEST_F(PictureJpeg, RowPaddingIsZero)
{
    const Bytes rgb(5 * 3 * 3, 0xC8);
    std::optional<DibBlock> dib = DecodeJpeg(testing::EncodeJpegForTest(5, 3, 3, rgb, 90));
    ASSERT_TRUE(dib);
    ASSERT_EQ(dib->rowBytes(), 16u);
    for (std::int32_t row = 0; row < 3; ++row) {
        EXPECT_EQ(dib->row(row)[15], 0) << row;
        EXPECT_NEAR(dib->row(row)[14], 0xC8, kJpegTolerance) << row;
    }
}

TEST_F(PictureJpeg, GreyComesOutAsGreyColour)
{
    Bytes grey(8 * 8, 100);
    std::fill(grey.begin(), grey.begin() + 8 * 4, 220); // top half lighter
    std::optional<DibBlock> dib = DecodeJpeg(testing::EncodeJpegForTest(8, 8, 1, grey, 95));
    ASSERT_TRUE(dib);
    EXPECT_EQ(dib->header().bitCount, 24);
    const SurfacePtr surface = LoadIntoSurface(*dib);
    ExpectNear(At(*surface, 4, 1), Rgb(220, 220, 220), kJpegTolerance, "top");
    ExpectNear(At(*surface, 4, 6), Rgb(100, 100, 100), kJpegTolerance, "bottom");
    const Pixel p = At(*surface, 4, 6);
    EXPECT_TRUE(p[0] == p[1] && p[1] == p[2]);
}

TEST_F(PictureJpeg, ThatEndsEarlyEndsThePicture)
{
    const Bytes file = testing::EncodeJpegForTest(16, 16, 3, QuadrantPixels(), 95);
    const std::size_t scan = ScanStart(file);
    ASSERT_LT(scan, file.size() - 4);
    // Without the end-of-image marker, and cut inside the scan: both still
    // give a whole picture, ended where the data ends.
    for (const std::size_t cut : {file.size() - 2, (scan + file.size()) / 2}) {
        std::optional<DibBlock> dib = DecodeJpeg(Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(cut)));
        ASSERT_TRUE(dib) << cut;
        EXPECT_EQ(dib->header().width, 16);
        EXPECT_EQ(dib->header().height, 16);
    }
    // Cut inside the headers: nothing to show.
    EXPECT_FALSE(DecodeJpeg(Bytes(file.begin(), file.begin() + 100)));
    EXPECT_TRUE(m_platform.MessageBoxLog().empty());
}

TEST_F(PictureJpeg, CutAnywhereOrDamagedNeverCrashes)
{
    const Bytes file = testing::EncodeJpegForTest(16, 16, 3, QuadrantPixels(), 75);
    for (std::size_t size = 0; size < file.size(); ++size) {
        std::optional<DibBlock> dib = DecodeJpeg(Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(size)));
        if (dib) {
            EXPECT_EQ(dib->bytes().size(), 40u + 48 * 16);
        }
    }
    // Damage in the entropy-coded data (headers are the fuzzer's business).
    const std::size_t scan = ScanStart(file);
    std::mt19937 random(11);
    for (int round = 0; round < 200; ++round) {
        Bytes damaged = file;
        for (int k = 0; k < 4; ++k)
            damaged[scan + random() % (damaged.size() - scan)] = static_cast<std::uint8_t>(random());
        DecodeJpeg(damaged);
    }
    EXPECT_FALSE(DecodeJpeg(Bytes{'n', 'o', 't', ' ', 'j', 'p', 'e', 'g'}));
    EXPECT_FALSE(DecodeJpeg({}));
}

TEST_F(PictureJpeg, OversizedHeaderIsRefused)
{
    Bytes file = testing::EncodeJpegForTest(16, 16, 3, QuadrantPixels(), 75);
    // The frame header: FF C0, length, precision, height, width.
    std::size_t sof = 0;
    for (std::size_t i = 0; i + 1 < file.size(); ++i) {
        if (file[i] == 0xFF && file[i + 1] == 0xC0) {
            sof = i;
            break;
        }
    }
    ASSERT_NE(sof, 0u);
    file[sof + 7] = 40000 >> 8;
    file[sof + 8] = 40000 & 0xFF;
    EXPECT_FALSE(DecodeJpeg(file));
    // Within the side limit, but far more pixels than a file this small can
    // hold: refused before a gigabyte is allocated.
    for (int i : {5, 7}) {
        file[sof + i] = 16384 >> 8;
        file[sof + i + 1] = 16384 & 0xFF;
    }
    EXPECT_FALSE(DecodeJpeg(file));
}

// --- TIFF -------------------------------------------------------------------

TiffPicture PaletteTiff(std::vector<std::uint16_t> red, std::vector<std::uint16_t> green,
    std::vector<std::uint16_t> blue)
{
    TiffPicture t;
    t.width = 3;
    t.height = 2;
    t.bitsPerSample = 8;
    t.samplesPerPixel = 1;
    t.photometric = 3;
    t.pixels = {0, 1, 2, 2, 1, 0};
    red.resize(256), green.resize(256), blue.resize(256);
    t.red = std::move(red), t.green = std::move(green), t.blue = std::move(blue);
    return t;
}

TEST_F(PictureTiff, PaletteBelow256IsUsedAsItIs)
{
    const TiffPicture t = PaletteTiff({10, 40, 255}, {20, 50, 0}, {30, 60, 128});
    std::optional<DibBlock> dib = DecodeTiff(testing::EncodeTiffForTest(t));
    ASSERT_TRUE(dib);
    EXPECT_EQ(dib->header().bitCount, 8);
    EXPECT_EQ(dib->header().clrUsed, 0u);
    EXPECT_EQ(dib->header().xPelsPerMeter, 2834);
    EXPECT_EQ(dib->header().yPelsPerMeter, 2834);
    EXPECT_EQ(dib->header().sizeImage, 3u * 8 * 2 / 8);
    ASSERT_EQ(dib->colours().size(), 256u * 4);
    EXPECT_EQ(TableEntry(*dib, 1), (std::array<std::uint8_t, 4>{60, 50, 40, 0}));
    const SurfacePtr surface = LoadIntoSurface(*dib);
    EXPECT_EQ(At(*surface, 0, 0), Rgb(10, 20, 30));
    EXPECT_EQ(At(*surface, 1, 0), Rgb(40, 50, 60));
    EXPECT_EQ(At(*surface, 2, 0), Rgb(255, 0, 128));
    EXPECT_EQ(At(*surface, 0, 1), Rgb(255, 0, 128));
}

TEST_F(PictureTiff, PaletteWithAValueOf256OrMoreIsScaled)
{
    // One value of 256 makes the whole map 16-bit: v * 255 / 65535, rounded down.
    const TiffPicture t = PaletteTiff({65535, 32768, 0}, {256, 65535, 255}, {0, 257, 65280});
    std::optional<DibBlock> dib = DecodeTiff(testing::EncodeTiffForTest(t));
    ASSERT_TRUE(dib);
    const SurfacePtr surface = LoadIntoSurface(*dib);
    EXPECT_EQ(At(*surface, 0, 0), Rgb(255, 0, 0));
    EXPECT_EQ(At(*surface, 1, 0), Rgb(127, 255, 1));
    EXPECT_EQ(At(*surface, 2, 0), Rgb(0, 0, 254));
}

TEST_F(PictureTiff, StripsFillTheBitmapFromTheBottomUp)
{
    TiffPicture t;
    t.width = 2;
    t.height = 5;
    for (std::uint8_t i = 0; i < 2 * 5; ++i) {
        const std::uint8_t v = static_cast<std::uint8_t>(i * 10);
        t.pixels.insert(t.pixels.end(), {v, static_cast<std::uint8_t>(v + 1), static_cast<std::uint8_t>(v + 2)});
    }
    for (const std::uint32_t rowsPerStrip : {1u, 2u, 5u}) {
        SCOPED_TRACE(rowsPerStrip);
        t.rowsPerStrip = rowsPerStrip;
        std::optional<DibBlock> dib = DecodeTiff(testing::EncodeTiffForTest(t));
        ASSERT_TRUE(dib);
        EXPECT_EQ(dib->header().bitCount, 24);
        EXPECT_EQ(dib->row(4)[0], 2); // first scanline, blue first
        EXPECT_EQ(dib->row(4)[2], 0);
        const SurfacePtr surface = LoadIntoSurface(*dib);
        for (std::int32_t y = 0; y < 5; ++y) {
            for (std::int32_t x = 0; x < 2; ++x) {
                const auto v = static_cast<std::uint8_t>((y * 2 + x) * 10);
                EXPECT_EQ(At(*surface, x, y), Rgb(v, v + 1, v + 2)) << x << "," << y;
            }
        }
    }
}

TEST_F(PictureTiff, RgbaKeepsItsAlpha)
{
    TiffPicture t;
    t.width = 2;
    t.height = 1;
    t.samplesPerPixel = 4;
    t.alpha = true;
    t.pixels = {1, 2, 3, 255, 4, 5, 6, 0};
    std::optional<DibBlock> dib = DecodeTiff(testing::EncodeTiffForTest(t));
    ASSERT_TRUE(dib);
    EXPECT_EQ(dib->header().bitCount, 32);
    const SurfacePtr surface = LoadIntoSurface(*dib);
    EXPECT_EQ(At(*surface, 0, 0), Rgb(1, 2, 3, 255));
    EXPECT_EQ(At(*surface, 1, 0), Rgb(4, 5, 6, 0));
}

TEST_F(PictureTiff, GreyGetsAGreyRamp)
{
    TiffPicture t;
    t.width = 2;
    t.height = 1;
    t.samplesPerPixel = 1;
    t.photometric = 1; // black is zero
    t.pixels = {0, 77};
    std::optional<DibBlock> dib = DecodeTiff(testing::EncodeTiffForTest(t));
    ASSERT_TRUE(dib);
    SurfacePtr surface = LoadIntoSurface(*dib);
    EXPECT_EQ(At(*surface, 0, 0), Rgb(0, 0, 0));
    EXPECT_EQ(At(*surface, 1, 0), Rgb(77, 77, 77));

    t.photometric = 0; // white is zero
    dib = DecodeTiff(testing::EncodeTiffForTest(t));
    ASSERT_TRUE(dib);
    surface = LoadIntoSurface(*dib);
    EXPECT_EQ(At(*surface, 0, 0), Rgb(255, 255, 255));
    EXPECT_EQ(At(*surface, 1, 0), Rgb(178, 178, 178));
}

// Rewrites one tag of the first directory as a LONG holding `value`.
void PatchTiffTag(Bytes& file, std::uint16_t tag, std::uint32_t value)
{
    const auto u16 = [&](std::size_t at) { return static_cast<std::uint16_t>(file[at] | (file[at + 1] << 8)); };
    const auto put32 = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            file[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    ASSERT_EQ(file[0], 'I');
    const std::size_t directory = file[4] | (file[5] << 8) | (file[6] << 16) | (std::size_t{file[7]} << 24);
    const std::uint16_t count = u16(directory);
    for (std::uint16_t i = 0; i < count; ++i) {
        const std::size_t entry = directory + 2 + 12 * std::size_t{i};
        if (u16(entry) == tag) {
            file[entry + 2] = 4, file[entry + 3] = 0; // LONG
            put32(entry + 4, 1);
            put32(entry + 8, value);
            return;
        }
    }
    FAIL() << "no tag " << tag;
}

TEST_F(PictureTiff, OversizedHeaderIsRefused)
{
    TiffPicture t;
    t.width = 2;
    t.height = 2;
    t.pixels.assign(12, 9);
    Bytes file = testing::EncodeTiffForTest(t);
    PatchTiffTag(file, 256, 100000); // image width
    EXPECT_FALSE(DecodeTiff(file));
    file = testing::EncodeTiffForTest(t);
    PatchTiffTag(file, 257, 100000); // image length
    EXPECT_FALSE(DecodeTiff(file));
    // Within the side limit, but a dozen stored bytes cannot hold 16384 x 16384.
    file = testing::EncodeTiffForTest(t);
    PatchTiffTag(file, 256, 16384);
    PatchTiffTag(file, 257, 16384);
    EXPECT_FALSE(DecodeTiff(file));
}

TEST_F(PictureTiff, CutAnywhereOrDamagedNeverCrashes)
{
    const TiffPicture t = PaletteTiff({1, 2, 3}, {4, 5, 6}, {7, 8, 9});
    const Bytes file = testing::EncodeTiffForTest(t);
    for (std::size_t size = 0; size < file.size(); ++size)
        DecodeTiff(Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(size)));
    std::mt19937 random(5);
    for (int round = 0; round < 200; ++round) {
        Bytes damaged = file;
        for (int k = 0; k < 3; ++k)
            damaged[random() % damaged.size()] = static_cast<std::uint8_t>(random());
        DecodeTiff(damaged);
    }
    EXPECT_FALSE(DecodeTiff(Bytes{'I', 'I', 42, 0}));
    EXPECT_TRUE(DecodeTiff(file));
}

// --- The loader -------------------------------------------------------------

// A 24-bit BMP file of one colour.
Bytes BmpFile(std::int32_t width, std::int32_t height, std::array<std::uint8_t, 3> rgb)
{
    BitmapInfoHeader header;
    header.width = width;
    header.height = height;
    header.bitCount = 24;
    const std::uint32_t rowBytes = DibRowBytes(width, 24);
    Bytes file(kFileHeaderSize + kInfoHeaderSize + std::size_t{rowBytes} * height, 0);
    file[0] = 'B', file[1] = 'M';
    file[10] = 54;
    WriteInfoHeader(header, file.data() + kFileHeaderSize);
    for (std::int32_t y = 0; y < height; ++y) {
        for (std::int32_t x = 0; x < width; ++x) {
            std::uint8_t* p = file.data() + 54 + std::size_t(y) * rowBytes + std::size_t(x) * 3;
            p[0] = rgb[2], p[1] = rgb[1], p[2] = rgb[0];
        }
    }
    return file;
}

Bytes SolidPng(std::array<std::uint8_t, 3> rgb)
{
    PngPicture p;
    p.width = 4;
    p.height = 4;
    p.colour = PngColour::Rgb;
    for (int i = 0; i < 16; ++i)
        p.pixels.insert(p.pixels.end(), rgb.begin(), rgb.end());
    return testing::EncodePngForTest(p);
}

Bytes SolidJpeg(std::array<std::uint8_t, 3> rgb)
{
    Bytes pixels;
    for (int i = 0; i < 64; ++i)
        pixels.insert(pixels.end(), rgb.begin(), rgb.end());
    return testing::EncodeJpegForTest(8, 8, 3, pixels, 95);
}

Bytes SolidTiff(std::array<std::uint8_t, 3> rgb)
{
    TiffPicture t;
    t.width = 4;
    t.height = 4;
    for (int i = 0; i < 16; ++i)
        t.pixels.insert(t.pixels.end(), rgb.begin(), rgb.end());
    return testing::EncodeTiffForTest(t);
}

class PictureLoad : public PictureTest {
protected:
    void SetUp() override
    {
        m_folder = fs::temp_directory_path() /
            ("kestrel-picture-" + std::to_string(std::random_device()()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_folder);
        fs::create_directories(m_folder / "bg");
        m_archive = kestrel::ComPtr<kestrel::IArchive>::Adopt(kestrel::NewDirArchive(m_folder));
        ASSERT_TRUE(m_archive);
    }
    void TearDown() override
    {
        m_archive = nullptr;
        fs::remove_all(m_folder);
    }

    void Write(const std::string& name, const Bytes& bytes)
    {
        std::ofstream out(m_folder / name, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }

    SurfacePtr Load(std::u16string_view name, MissingPicture missing = MissingPicture::NotAllowed)
    {
        return SurfacePtr(LoadPicture(*m_archive, name, missing));
    }

    // The error a load throws; fails the test when it does not throw.
    kestrel::ExceptionHandle LoadError(std::u16string_view name)
    {
        try {
            Load(name);
        } catch (const kestrel::ExceptionHandle& e) {
            return e;
        }
        ADD_FAILURE() << "no error thrown";
        return {};
    }

    fs::path m_folder;
    kestrel::ComPtr<kestrel::IArchive> m_archive;
};

const std::array<std::uint8_t, 3> kRed = {250, 0, 0};
const std::array<std::uint8_t, 3> kGreen = {0, 250, 0};
const std::array<std::uint8_t, 3> kBlue = {0, 0, 250};
const std::array<std::uint8_t, 3> kGrey = {90, 90, 90};

TEST_F(PictureLoad, JpegIsChosenBeforeTheOthers)
{
    Write("bg/sky.jpg", SolidJpeg(kRed));
    Write("bg/sky.tif", SolidTiff(kGreen));
    Write("bg/sky.png", SolidPng(kBlue));
    Write("bg/sky.bmp", BmpFile(4, 4, kGrey));
    const SurfacePtr surface = Load(u"bg/sky");
    ASSERT_TRUE(surface);
    EXPECT_EQ(surface->Width(), 8);
    EXPECT_EQ(surface->RefCount(), 1);
    ExpectNear(At(*surface, 4, 4), Rgb(250, 0, 0), kJpegTolerance, "jpeg");
}

TEST_F(PictureLoad, OrderIsTifThenPngThenBmp)
{
    Write("a.tif", SolidTiff(kGreen));
    Write("a.png", SolidPng(kBlue));
    Write("a.bmp", BmpFile(4, 4, kGrey));
    EXPECT_EQ(At(*Load(u"a"), 1, 1), Rgb(0, 250, 0));

    Write("b.png", SolidPng(kBlue));
    Write("b.bmp", BmpFile(4, 4, kGrey));
    EXPECT_EQ(At(*Load(u"b"), 1, 1), Rgb(0, 0, 250));

    Write("c.bmp", BmpFile(3, 2, kGrey));
    const SurfacePtr bmp = Load(u"c");
    EXPECT_EQ(bmp->Width(), 3);
    EXPECT_EQ(bmp->AbsHeight(), 2);
    EXPECT_EQ(At(*bmp, 2, 1), Rgb(90, 90, 90));
    EXPECT_TRUE(m_platform.MessageBoxLog().empty());
}

TEST_F(PictureLoad, MissingAllowedGivesNullWithoutAnyMessage)
{
    EXPECT_EQ(Load(u"nothing", MissingPicture::Allowed), nullptr);
    EXPECT_TRUE(m_platform.MessageBoxLog().empty());
    EXPECT_TRUE(m_debug.lines().empty());
}

TEST_F(PictureLoad, MissingNotAllowedIsAScriptError)
{
    const kestrel::ExceptionHandle e = LoadError(u"nothing");
    EXPECT_EQ(e.Source(), u"script/scr_gui");
    EXPECT_EQ(e.Message(), u"Script Error: file not found 'nothing'.");
    EXPECT_GT(e.Line(), 0);
}

TEST_F(PictureLoad, BadJpegIsADecodeError)
{
    Write("bad.jpg", Bytes{0xFF, 0xD8, 0xFF, 0x00, 1, 2, 3});
    Write("bad.png", SolidPng(kBlue)); // never tried
    const kestrel::ExceptionHandle e = LoadError(u"bad");
    EXPECT_EQ(e.Source(), u"script/scr_gui");
    EXPECT_EQ(e.Message(), u"Script Error: JPEG decode error 'bad'.");
}

TEST_F(PictureLoad, BadTiffNamesTheTifFile)
{
    Write("bad.tif", Bytes{'I', 'I', 42, 0, 8, 0, 0, 0, 0, 0});
    const kestrel::ExceptionHandle e = LoadError(u"bad");
    EXPECT_EQ(e.Source(), u"script/scr_gui");
    EXPECT_EQ(e.Message(), u"Script Error: file not found 'bad.tif'.");
}

TEST_F(PictureLoad, BadPngShowsTheLibraryBoxThenFileNotFound)
{
    Bytes png = SolidPng(kBlue);
    png.resize(png.size() / 2);
    Write("bad.png", png);
    const kestrel::ExceptionHandle e = LoadError(u"bad");
    EXPECT_EQ(e.Source(), u"dxdraw/dxdraw");
    EXPECT_EQ(e.Message(), u"LoadSurfaceArchive_Dx: file not found 'bad.png'.\n");
    ASSERT_EQ(m_platform.MessageBoxLog().size(), 1u);
    EXPECT_EQ(m_platform.MessageBoxLog()[0].request.caption, u"libpng error");
    EXPECT_EQ(m_platform.MessageBoxLog()[0].request.text, u"Read Error");
    EXPECT_EQ(m_platform.MessageBoxLog()[0].request.icon, kestrel::MessageBoxIcon::Error);
}

TEST_F(PictureLoad, BmpThatPromisesMoreThanItHoldsIsRefused)
{
    Bytes bmp = BmpFile(4, 4, kGrey);
    bmp.resize(bmp.size() - 10);
    Write("short.bmp", bmp);
    const kestrel::ExceptionHandle e = LoadError(u"short");
    EXPECT_EQ(e.Source(), u"script/scr_gui");
    EXPECT_EQ(e.Message(), u"Script Error: file not found 'short.bmp'.");
}

TEST_F(PictureLoad, FilesCutAnywhereGiveAPictureOrAnErrorNeverACrash)
{
    const std::vector<std::pair<std::string, Bytes>> files = {
        {"cut.jpg", SolidJpeg(kRed)},
        {"cut.tif", SolidTiff(kGreen)},
        {"cut.png", SolidPng(kBlue)},
        {"cut.bmp", BmpFile(3, 2, kGrey)},
    };
    for (const auto& [name, file] : files) {
        SCOPED_TRACE(name);
        for (std::size_t size = 0; size <= file.size(); ++size) {
            Write(name, Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(size)));
            try {
                const SurfacePtr surface = Load(u"cut");
                EXPECT_TRUE(surface && surface->HasPixels()) << size;
            } catch (const kestrel::ExceptionHandle& e) {
                EXPECT_FALSE(e.Message().empty());
            }
        }
        fs::remove(m_folder / name);
    }
}

TEST_F(PictureLoad, SurfaceArchiveReadsBmpAndPngBySignature)
{
    Write("p.dat", SolidPng(kGreen));
    Write("b.dat", BmpFile(2, 2, kRed));
    const SurfacePtr png(LoadSurfaceArchive_Dx(*m_archive, u"p.dat"));
    EXPECT_EQ(At(*png, 0, 0), Rgb(0, 250, 0));
    const SurfacePtr bmp(LoadSurfaceArchive_Dx(*m_archive, u"b.dat"));
    EXPECT_EQ(At(*bmp, 1, 1), Rgb(250, 0, 0));
    try {
        SurfacePtr(LoadSurfaceArchive_Dx(*m_archive, u"missing.png"));
        ADD_FAILURE() << "no error thrown";
    } catch (const kestrel::ExceptionHandle& e) {
        EXPECT_EQ(e.Source(), u"dxdraw/dxdraw");
        EXPECT_EQ(e.Message(), u"LoadSurfaceArchive_Dx: file not found 'missing.png'.\n");
    }
}

} // namespace
} // namespace DxDraw
