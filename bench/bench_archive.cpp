// Archive reading speed: the two unpacking methods on the same picture-sized
// data, and path lookups in an archive of 20,000 entries.
//
//   BM_EggDecode / BM_ZlibInflate    4 MiB unpacked (a 1024 x 1024 BGRA picture);
//                                    bytes/s counts unpacked bytes, so the two compare
//   BM_EggEncode                     the packer's side, for scale
//   BM_LookupEveryMember             Exists() on every file; items/s is lookups/s
#include "archive/archive.h"
#include "archive/egg.h"
#include "archive/saf_writer.h"
#include "archive/zlib/zlib_codec.h"
#include "core/text.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// A 1024 x 1024 BGRA picture as game art tends to be: a sky gradient with
// a little noise, flat panels, and a noisy textured band; alpha opaque except
// for a soft-edged cut-out.
const Bytes& Picture()
{
    static const Bytes picture = [] {
        constexpr int kSize = 1024;
        Bytes p(static_cast<std::size_t>(kSize) * kSize * 4);
        std::mt19937 rng(42);
        for (int y = 0; y < kSize; ++y) {
            for (int x = 0; x < kSize; ++x) {
                std::uint8_t* px = &p[(static_cast<std::size_t>(y) * kSize + x) * 4];
                int b, g, r, a = 255;
                if (y < 400) { // gradient with noise
                    const int n = static_cast<int>(rng() % 5) - 2;
                    b = 200 - y / 4 + n;
                    g = 120 + x / 16 + n;
                    r = 60 + y / 8;
                } else if (y < 700) { // flat panels
                    const int panel = (x / 128 + y / 100) % 3;
                    b = panel * 60;
                    g = 180 - panel * 40;
                    r = 90;
                } else { // texture
                    const int n = static_cast<int>(rng() % 64);
                    b = 40 + n;
                    g = 70 + n / 2;
                    r = 30 + (x ^ y) % 32;
                }
                const int dx = x - 800;
                const int dy = y - 200;
                const int d = dx * dx + dy * dy;
                if (d < 100 * 100)
                    a = d < 90 * 90 ? 0 : (d - 8100) * 255 / 1900;
                px[0] = static_cast<std::uint8_t>(b);
                px[1] = static_cast<std::uint8_t>(g);
                px[2] = static_cast<std::uint8_t>(r);
                px[3] = static_cast<std::uint8_t>(a);
            }
        }
        return p;
    }();
    return picture;
}

void BM_EggDecode(benchmark::State& state)
{
    const Bytes& picture = Picture();
    const Bytes packed = kestrel::EggEncode(picture);
    Bytes out(picture.size());
    for (auto _ : state) {
        benchmark::DoNotOptimize(kestrel::EggDecode(packed, out));
        benchmark::ClobberMemory();
    }
    if (out != picture)
        state.SkipWithError("egg round trip differs");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * picture.size()));
    state.counters["packed_bytes"] = static_cast<double>(packed.size());
}
BENCHMARK(BM_EggDecode)->Unit(benchmark::kMillisecond);

void BM_ZlibInflate(benchmark::State& state)
{
    const Bytes& picture = Picture();
    const Bytes packed = kestrel::zlib::Deflate(picture);
    Bytes out(picture.size());
    for (auto _ : state) {
        std::size_t produced = 0;
        benchmark::DoNotOptimize(kestrel::zlib::InflateOnce(packed, out, produced));
        benchmark::DoNotOptimize(produced);
        benchmark::ClobberMemory();
    }
    if (out != picture)
        state.SkipWithError("zlib round trip differs");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * picture.size()));
    state.counters["packed_bytes"] = static_cast<double>(packed.size());
}
BENCHMARK(BM_ZlibInflate)->Unit(benchmark::kMillisecond);

void BM_EggEncode(benchmark::State& state)
{
    const Bytes& picture = Picture();
    for (auto _ : state)
        benchmark::DoNotOptimize(kestrel::EggEncode(picture));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * picture.size()));
}
BENCHMARK(BM_EggEncode)->Unit(benchmark::kMillisecond);

// 100 folders of 199 one-byte files: with the folders and the root, 20,001 entries.
class LookupArchive {
public:
    LookupArchive()
    {
        m_path = fs::temp_directory_path() / ("kestrel_bench_lookup_" + std::to_string(std::random_device{}()) + ".saf");
        kestrel::saf::SafBuilder builder(kestrel::saf::WriterOptions{});
        for (int d = 0; d < 100; ++d) {
            for (int f = 0; f < 199; ++f) {
                const std::u16string path = kestrel::Utf8ToUtf16(
                    "folder" + std::to_string(d) + "/file" + std::to_string(f) + ".png");
                builder.AddFile(path, Bytes{static_cast<std::uint8_t>(f)});
                m_members.push_back(path);
            }
        }
        if (auto error = builder.WriteTo(m_path))
            m_error = *error;
        m_archive = kestrel::ComPtr<kestrel::IArchive>::Adopt(kestrel::NewArchive6(m_path));
    }
    ~LookupArchive()
    {
        m_archive.Reset();
        std::error_code ignored;
        fs::remove(m_path, ignored);
    }

    kestrel::IArchive* archive() const { return m_archive.get(); }
    const std::vector<std::u16string>& members() const { return m_members; }
    const std::string& error() const { return m_error; }

private:
    fs::path m_path;
    std::vector<std::u16string> m_members;
    kestrel::ComPtr<kestrel::IArchive> m_archive;
    std::string m_error;
};

void BM_LookupEveryMember(benchmark::State& state)
{
    static LookupArchive lookup;
    if (!lookup.archive()) {
        state.SkipWithError(lookup.error().empty() ? "cannot open the archive" : lookup.error().c_str());
        return;
    }
    std::size_t found = 0;
    for (auto _ : state) {
        for (const std::u16string& path : lookup.members())
            found += lookup.archive()->Exists(path) ? 1 : 0;
        benchmark::DoNotOptimize(found);
    }
    if (found != state.iterations() * lookup.members().size())
        state.SkipWithError("a member was not found");
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * lookup.members().size()));
}
BENCHMARK(BM_LookupEveryMember)->Unit(benchmark::kMillisecond);

} // namespace
