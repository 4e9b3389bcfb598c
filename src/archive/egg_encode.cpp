// The egg encoder: greedy LZSS with one step of lazy matching, over hash
// chains of 3-byte prefixes.
//
// The decoder's ring starts as 4078 zero bytes with the write position at
// 4078, so the encoder sees one long stream: 4078 zero bytes followed by the
// input, where stream position e sits at ring position e mod 4096. A pair
// names the ring position of its first source byte. Matches reach back at most
// 4078 bytes; at that distance a copy never reads a ring position that the
// same copy has already overwritten (that would need a distance above 4096 -
// 18), and it never reads ring positions 4078 ... 4095 before the decoder has
// written them, since those hold the stream's own bytes 4078 ... 4095.
#include "archive/egg.h"

#include <algorithm>
#include <cstring>

namespace kestrel {

namespace {

constexpr std::size_t kMaxDistance = kEggStartPosition; // 4078
constexpr int kHashBits = 15;
constexpr std::size_t kHashSize = std::size_t{1} << kHashBits;
// How many earlier positions with the same prefix hash are tried; long chains
// only appear in repetitive data, where the first candidates already give the
// longest match.
constexpr int kMaxChain = 48;
constexpr std::int32_t kNone = -1;

std::uint32_t Hash3(const std::uint8_t* p)
{
    const std::uint32_t v = static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
        (static_cast<std::uint32_t>(p[2]) << 16);
    return (v * 2654435761u) >> (32 - kHashBits);
}

struct Match {
    std::size_t length = 0;
    std::size_t source = 0; // stream position
};

// Hash chains over the stream. `m_previous` is indexed by position mod 4096:
// a slot is reused only by a position 4096 later, and a walk stops at a
// distance of 4078, so every link it follows is still the one it stored.
class MatchFinder {
public:
    explicit MatchFinder(const std::vector<std::uint8_t>& stream)
        : m_stream(stream), m_head(kHashSize, kNone), m_previous(kEggRingSize, kNone)
    {
    }

    // Adds stream position `pos` (which needs two bytes after it).
    void Insert(std::size_t pos)
    {
        const std::uint32_t h = Hash3(m_stream.data() + pos);
        m_previous[pos % kEggRingSize] = m_head[h];
        m_head[h] = static_cast<std::int32_t>(pos);
    }

    // The longest earlier match for the bytes at `pos`, at most `limit` bytes.
    Match Find(std::size_t pos, std::size_t limit) const
    {
        Match best;
        if (limit < kEggMinMatch)
            return best;
        const std::uint8_t* here = m_stream.data() + pos;
        std::int32_t candidate = m_head[Hash3(here)];
        for (int chain = 0; candidate != kNone && chain < kMaxChain; ++chain) {
            const std::size_t from = static_cast<std::size_t>(candidate);
            if (from >= pos || pos - from > kMaxDistance)
                break;
            const std::uint8_t* there = m_stream.data() + from;
            // Cheap rejection: a longer match must agree at the current best length.
            if (there[best.length] == here[best.length] || best.length == 0) {
                std::size_t length = 0;
                while (length < limit && there[length] == here[length])
                    ++length;
                if (length > best.length) {
                    best = {length, from};
                    if (length == limit)
                        break;
                }
            }
            candidate = m_previous[from % kEggRingSize];
        }
        if (best.length < kEggMinMatch)
            best.length = 0;
        return best;
    }

private:
    const std::vector<std::uint8_t>& m_stream;
    std::vector<std::int32_t> m_head;
    std::vector<std::int32_t> m_previous;
};

// Writes items in groups of eight behind a flag byte, least significant bit
// first, 1 for a literal.
class ItemWriter {
public:
    explicit ItemWriter(std::vector<std::uint8_t>& out) : m_out(out) {}

    void Literal(std::uint8_t byte)
    {
        StartItem(true);
        m_out.push_back(byte);
    }

    void Pair(std::size_t ringPosition, std::size_t length)
    {
        StartItem(false);
        m_out.push_back(static_cast<std::uint8_t>(ringPosition & 0xFF));
        m_out.push_back(static_cast<std::uint8_t>(((ringPosition >> 4) & 0xF0) | (length - kEggMinMatch)));
    }

private:
    void StartItem(bool literal)
    {
        if (m_bit == 8) {
            m_flagAt = m_out.size();
            m_out.push_back(0);
            m_bit = 0;
        }
        if (literal)
            m_out[m_flagAt] |= static_cast<std::uint8_t>(1u << m_bit);
        ++m_bit;
    }

    std::vector<std::uint8_t>& m_out;
    std::size_t m_flagAt = 0;
    int m_bit = 8;
};

} // namespace

std::vector<std::uint8_t> EggEncode(std::span<const std::uint8_t> input)
{
    std::vector<std::uint8_t> out;
    if (input.empty())
        return out;
    // Worst case: all literals, one flag byte per eight.
    out.reserve(input.size() + input.size() / 8 + 1);

    // The zero bytes the ring starts with, then the input.
    std::vector<std::uint8_t> stream(kEggStartPosition + input.size(), 0);
    std::memcpy(stream.data() + kEggStartPosition, input.data(), input.size());
    const std::size_t end = stream.size();

    MatchFinder finder(stream);
    // Every position whose three bytes lie in the stream can be a source.
    std::size_t inserted = 0;
    auto insertUpTo = [&](std::size_t limit) {
        limit = std::min(limit, end >= 2 ? end - 2 : 0);
        for (; inserted < limit; ++inserted)
            finder.Insert(inserted);
    };

    ItemWriter writer(out);
    std::size_t pos = kEggStartPosition;
    insertUpTo(pos);
    Match current = finder.Find(pos, std::min(kEggMaxMatch, end - pos));
    while (pos < end) {
        if (current.length == 0) {
            writer.Literal(stream[pos]);
            insertUpTo(++pos);
            if (pos < end)
                current = finder.Find(pos, std::min(kEggMaxMatch, end - pos));
            continue;
        }
        // Lazy step: when the match one byte later is longer, a literal now
        // and that match next is the better deal.
        insertUpTo(pos + 1);
        Match next;
        if (current.length < kEggMaxMatch && pos + 1 < end)
            next = finder.Find(pos + 1, std::min(kEggMaxMatch, end - pos - 1));
        if (next.length > current.length) {
            writer.Literal(stream[pos]);
            ++pos;
            current = next;
            continue;
        }
        writer.Pair(current.source % kEggRingSize, current.length);
        pos += current.length;
        insertUpTo(pos);
        current = pos < end ? finder.Find(pos, std::min(kEggMaxMatch, end - pos)) : Match{};
    }
    return out;
}

} // namespace kestrel
