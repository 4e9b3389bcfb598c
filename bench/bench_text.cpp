// Code page 932 decoding speed: every script, table and name passes through it.
#include "core/cp932.h"

#include <benchmark/benchmark.h>

#include <random>
#include <string>

namespace {

// Scenario-like text: mostly double-byte characters, some ASCII commands,
// line ends.
std::string MakeScenarioBytes(std::size_t size)
{
    std::mt19937 random(1234);
    std::string out;
    out.reserve(size + 2);
    while (out.size() < size) {
        const unsigned roll = random() % 100;
        if (roll < 70) {
            out += static_cast<char>(0x82 + random() % 2);
            out += static_cast<char>(0x9F + random() % 0x50);
        } else if (roll < 95) {
            out += static_cast<char>('A' + random() % 26);
        } else {
            out += "\r\n";
        }
    }
    return out;
}

void BM_Cp932ToUtf16(benchmark::State& state)
{
    const std::string bytes = MakeScenarioBytes(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(kestrel::Cp932ToUtf16(bytes));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(bytes.size()));
}
BENCHMARK(BM_Cp932ToUtf16)->Arg(64)->Arg(5 << 20);

void BM_Utf16ToCp932(benchmark::State& state)
{
    const std::u16string text = kestrel::Cp932ToUtf16(MakeScenarioBytes(static_cast<std::size_t>(state.range(0))));
    for (auto _ : state)
        benchmark::DoNotOptimize(kestrel::Utf16ToCp932(text));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(text.size() * 2));
}
BENCHMARK(BM_Utf16ToCp932)->Arg(5 << 20);

} // namespace
