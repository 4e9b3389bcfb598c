#include "archive/zlib/zlib_codec.h"

#include <zlib.h>

#include <algorithm>
#include <climits>

namespace kestrel::zlib {

namespace {

// Owns one inflate stream: inflateEnd runs on every way out.
class Inflater {
public:
    Inflater() { m_ready = inflateInit(&m_stream) == Z_OK; }
    ~Inflater()
    {
        if (m_ready)
            inflateEnd(&m_stream);
    }
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;

    bool ready() const { return m_ready; }
    z_stream& stream() { return m_stream; }

private:
    z_stream m_stream{};
    bool m_ready = false;
};

// zlib counts in 32-bit units; hand it at most this much at a time.
constexpr std::size_t kMaxChunk = UINT_MAX;

} // namespace

InflateResult InflateOnce(std::span<const std::uint8_t> input, std::span<std::uint8_t> output, std::size_t& produced)
{
    produced = 0;
    Inflater inflater;
    if (!inflater.ready() || input.size() > kMaxChunk || output.size() > kMaxChunk)
        return InflateResult::Error;
    z_stream& z = inflater.stream();
    z.next_in = const_cast<Bytef*>(input.data());
    z.avail_in = static_cast<uInt>(input.size());
    z.next_out = output.data();
    z.avail_out = static_cast<uInt>(output.size());
    const int result = inflate(&z, Z_NO_FLUSH);
    produced = output.size() - z.avail_out;
    if (result == Z_STREAM_END)
        return InflateResult::StreamEnd;
    return result == Z_OK ? InflateResult::Ok : InflateResult::Error;
}

std::optional<std::size_t> InflateStream(const std::function<std::size_t(std::span<std::uint8_t>)>& refill,
    std::size_t inputBufferSize, std::span<std::uint8_t> output, std::size_t window)
{
    Inflater inflater;
    if (!inflater.ready() || inputBufferSize == 0 || inputBufferSize > kMaxChunk || window == 0 || window > kMaxChunk)
        return std::nullopt;
    std::vector<std::uint8_t> input(inputBufferSize);
    z_stream& z = inflater.stream();
    std::size_t produced = 0;
    while (produced < output.size()) {
        const std::size_t windowSize = std::min(window, output.size() - produced);
        z.next_out = output.data() + produced;
        z.avail_out = static_cast<uInt>(windowSize);
        while (z.avail_out > 0) {
            if (z.avail_in == 0) {
                const std::size_t got = refill(input);
                if (got == 0)
                    return std::nullopt; // the stream ends before its end marker
                z.next_in = input.data();
                z.avail_in = static_cast<uInt>(std::min(got, input.size()));
            }
            const int result = inflate(&z, Z_NO_FLUSH);
            if (result == Z_STREAM_END)
                return produced + (windowSize - z.avail_out);
            if (result != Z_OK)
                return std::nullopt;
        }
        produced += windowSize;
    }
    // Output is full: whatever the stream still holds would pass the unpacked size.
    return produced;
}

std::vector<std::uint8_t> Deflate(std::span<const std::uint8_t> input)
{
    uLongf bound = compressBound(static_cast<uLong>(input.size()));
    std::vector<std::uint8_t> out(bound);
    if (compress2(out.data(), &bound, input.data(), static_cast<uLong>(input.size()), Z_BEST_COMPRESSION) != Z_OK)
        return {};
    out.resize(bound);
    return out;
}

std::uint64_t MaxInflatedSize(std::uint64_t storedSize)
{
    // Deflate's best ratio is 1032:1 (a 258-byte match in about two bits).
    return storedSize * 1032 + 1024;
}

} // namespace kestrel::zlib
