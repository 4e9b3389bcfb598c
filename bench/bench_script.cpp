// Compiling a large scenario, beside the bare code page 932 conversion of the
// same bytes (the floor: the compiler converts every text it keeps).
#include "core/cp932.h"
#include "script/node.h"

#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

namespace {

// A scenario of about `size` bytes: message blocks of two or three lines,
// commands with their words, page breaks, labels and jumps.
std::vector<std::uint8_t> MakeScenario(std::size_t size)
{
    std::mt19937 random(42);
    const std::string line = kestrel::Utf16ToCp932(u"「今日はとても良い天気だね。どこかへ出かけようか」");
    std::string out;
    int label = 0;
    while (out.size() < size) {
        out += ".GRP BG" + std::to_string(random() % 90 + 10) + "\r\n";
        out += "@V" + std::to_string(random() % 9000 + 1000) + "\r\n";
        for (unsigned i = 0, n = 2 + random() % 2; i < n; ++i)
            out += line + "\r\n";
        out += ".PST A + 1\r\n";
        out += ".PJP A > 3 L" + std::to_string(label + 1) + "\r\n";
        out += "\r\n.LAB L" + std::to_string(++label) + "\r\n";
    }
    std::vector<std::uint8_t> bytes(out.begin(), out.end());
    bytes.push_back(0);
    return bytes;
}

const std::vector<std::uint8_t>& Scenario()
{
    static const std::vector<std::uint8_t> bytes = MakeScenario(5u << 20);
    return bytes;
}

void BM_CompileScenario(benchmark::State& state)
{
    const std::vector<std::uint8_t>& bytes = Scenario();
    for (auto _ : state) {
        TextScript::ScriptStateGroup group;
        group.Compile(bytes, u"_start.txt");
        benchmark::DoNotOptimize(group.Count());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(bytes.size()));
}
BENCHMARK(BM_CompileScenario)->Unit(benchmark::kMillisecond);

void BM_ConvertScenarioBytes(benchmark::State& state)
{
    const std::vector<std::uint8_t>& bytes = Scenario();
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size() - 1);
    for (auto _ : state)
        benchmark::DoNotOptimize(kestrel::Cp932ToUtf16(text));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(bytes.size()));
}
BENCHMARK(BM_ConvertScenarioBytes)->Unit(benchmark::kMillisecond);

} // namespace
