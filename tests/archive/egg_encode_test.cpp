// The egg encoder: whatever it writes, the decoder gives back exactly.
#include "archive/egg.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace kestrel {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes RoundTrip(const Bytes& input)
{
    const Bytes encoded = EggEncode(input);
    Bytes decoded(input.size() + 64, 0xCD);
    const std::size_t produced = EggDecode(encoded, std::span(decoded).first(input.size()));
    EXPECT_EQ(produced, input.size());
    decoded.resize(produced);
    return decoded;
}

Bytes Random(std::size_t size, std::uint32_t seed, unsigned alphabet = 256)
{
    std::mt19937 rng(seed);
    Bytes out(size);
    for (auto& b : out)
        b = static_cast<std::uint8_t>(rng() % alphabet);
    return out;
}

Bytes TextLike(std::size_t size)
{
    static const char* const words[] = {"shall ", "we ", "walk ", "by ", "the ", "river ", "tonight", "? ", "\n",
        "「はい」", "、", "。"};
    std::mt19937 rng(3);
    std::string text;
    while (text.size() < size)
        text += words[rng() % std::size(words)];
    text.resize(size);
    return Bytes(text.begin(), text.end());
}

struct EggCase {
    const char* name;
    Bytes input;
};

std::vector<EggCase> Cases()
{
    std::vector<EggCase> cases;
    cases.push_back({"empty", {}});
    cases.push_back({"one byte", {0x42}});
    cases.push_back({"one zero", {0x00}});
    cases.push_back({"two bytes", {0x00, 0xFF}});
    cases.push_back({"run", Bytes(1000, 'a')});
    cases.push_back({"zeros at the start", [] {
                         Bytes b(9000, 0);
                         const Bytes tail = Random(3000, 1);
                         b.insert(b.end(), tail.begin(), tail.end());
                         return b;
                     }()});
    cases.push_back({"zeros only", Bytes(5000, 0)});
    cases.push_back({"random", Random(20000, 2)});
    cases.push_back({"small alphabet", Random(30000, 4, 3)});
    cases.push_back({"text", TextLike(50000)});
    // A period just above and below the match distance limit.
    cases.push_back({"long period", [] {
                         const Bytes unit = Random(4079, 5);
                         Bytes b;
                         for (int i = 0; i < 4; ++i)
                             b.insert(b.end(), unit.begin(), unit.end());
                         return b;
                     }()});
    cases.push_back({"period 4078", [] {
                         const Bytes unit = Random(4078, 6);
                         Bytes b;
                         for (int i = 0; i < 4; ++i)
                             b.insert(b.end(), unit.begin(), unit.end());
                         return b;
                     }()});
    cases.push_back({"runs of every length", [] {
                         Bytes b;
                         for (int n = 1; n < 60; ++n)
                             b.insert(b.end(), static_cast<std::size_t>(n), static_cast<std::uint8_t>(n * 37));
                         return b;
                     }()});
    return cases;
}

TEST(EggEncode, RoundTripsVariedInputs)
{
    for (const EggCase& c : Cases()) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(RoundTrip(c.input) == c.input);
    }
}

TEST(EggEncode, RoundTripsEveryShortLength)
{
    const Bytes source = TextLike(600);
    for (std::size_t n = 0; n <= source.size(); n += (n < 40 ? 1 : 37)) {
        const Bytes input(source.begin(), source.begin() + static_cast<std::ptrdiff_t>(n));
        EXPECT_TRUE(RoundTrip(input) == input) << n;
    }
}

TEST(EggEncode, EmptyInputGivesEmptyStream)
{
    EXPECT_TRUE(EggEncode({}).empty());
}

TEST(EggEncode, CompressesRepetitiveData)
{
    const Bytes run(100000, 'x');
    // Pairs of 18 bytes at 2 bytes each, one flag byte per eight pairs.
    EXPECT_LT(EggEncode(run).size(), run.size() / 8);
    const Bytes text = TextLike(100000);
    EXPECT_LT(EggEncode(text).size(), text.size() / 2);
    // A zero run at the start is copied from the zero-filled ring at once: the
    // first item is already a pair.
    const Bytes zeros(18, 0);
    const Bytes encoded = EggEncode(zeros);
    ASSERT_EQ(encoded.size(), 3u);
    EXPECT_EQ(encoded[0] & 1, 0);
    EXPECT_EQ(encoded[2] & 0x0F, 15);
}

TEST(EggEncode, IncompressibleDataGrowsByTheFlagBytesAtMost)
{
    const Bytes noise = Random(80000, 9);
    EXPECT_LE(EggEncode(noise).size(), noise.size() + (noise.size() + 7) / 8);
}

TEST(EggEncode, PairsReachBackAtMost4078Bytes)
{
    // A conforming stream never reads ring positions 4078...4095 before
    // writing them. The decoder clears the whole ring, so a round trip cannot
    // show a mistake there; the distances the encoder emits can: no pair may
    // point more than 4078 bytes back.
    const Bytes input = TextLike(30000);
    const Bytes encoded = EggEncode(input);
    std::size_t in = 0;
    std::size_t written = kEggStartPosition; // stream position of the next output byte
    unsigned flags = 0;
    while (in < encoded.size()) {
        flags >>= 1;
        if ((flags & 0x100) == 0) {
            flags = encoded[in++] | 0xFF00u;
            if (in >= encoded.size())
                break;
        }
        if (flags & 1) {
            ++in;
            ++written;
            continue;
        }
        ASSERT_LT(in + 1, encoded.size());
        const std::size_t ring = encoded[in] | ((encoded[in + 1] & 0xF0u) << 4);
        const std::size_t length = (encoded[in + 1] & 0x0Fu) + kEggMinMatch;
        in += 2;
        const std::size_t distance = (written - ring) % kEggRingSize;
        EXPECT_GE(distance, 1u);
        EXPECT_LE(distance, kEggStartPosition);
        written += length;
    }
    EXPECT_EQ(written - kEggStartPosition, input.size());
}

} // namespace
} // namespace kestrel
