// Parsing outside input with platform::json::parse, against nlohmann's parser into its std::map objects (the
// least any parse of the same text does): one object of many members, as a hostile page or server could send,
// and an array of small objects, as a bulk signing request holds.
#include <benchmark/benchmark.h>

#include <string>

#include "platform/Json.h"

namespace {

// {"k0":0,"k1":1,...}: 80,000 members make about 850 KiB.
std::string wideObject(int members) {
    std::string text = "{";
    for (int i = 0; i < members; ++i) {
        if (i)
            text += ',';
        text += "\"k" + std::to_string(i) + "\":" + std::to_string(i);
    }
    return text + "}";
}

// [{"hash_base64":"…","docName":"…"},…]
std::string manySmallObjects(int count) {
    std::string text = "[";
    for (int i = 0; i < count; ++i) {
        if (i)
            text += ',';
        text += R"({"hash_base64":"n4bQgYhMfWWaL+qgxVrQFaO/TxsrC4Is0V1sFbDwCgg=","docName":"document-)" +
                std::to_string(i) + R"(.pdf"})";
    }
    return text + "]";
}

void WideObject(benchmark::State& state) {
    const auto text = wideObject(int(state.range(0)));
    for (auto _ : state) {
        auto json = platform::json::parse(text);
        if (json.size() != std::size_t(state.range(0)))
            state.SkipWithError("wrong member count");
        benchmark::DoNotOptimize(json);
    }
    state.SetBytesProcessed(state.iterations() * std::int64_t(text.size()));
}

void Baseline_WideObjectIntoMap(benchmark::State& state) {
    const auto text = wideObject(int(state.range(0)));
    for (auto _ : state) {
        auto json = nlohmann::json::parse(text);
        benchmark::DoNotOptimize(json);
    }
    state.SetBytesProcessed(state.iterations() * std::int64_t(text.size()));
}

void SmallObjects(benchmark::State& state) {
    const auto text = manySmallObjects(int(state.range(0)));
    for (auto _ : state) {
        auto json = platform::json::parse(text);
        benchmark::DoNotOptimize(json);
    }
    state.SetBytesProcessed(state.iterations() * std::int64_t(text.size()));
}

void Baseline_SmallObjectsIntoMap(benchmark::State& state) {
    const auto text = manySmallObjects(int(state.range(0)));
    for (auto _ : state) {
        auto json = nlohmann::json::parse(text);
        benchmark::DoNotOptimize(json);
    }
    state.SetBytesProcessed(state.iterations() * std::int64_t(text.size()));
}

BENCHMARK(WideObject)->Arg(10'000)->Arg(80'000)->Unit(benchmark::kMillisecond);
BENCHMARK(Baseline_WideObjectIntoMap)->Arg(10'000)->Arg(80'000)->Unit(benchmark::kMillisecond);
BENCHMARK(SmallObjects)->Arg(10'000)->Unit(benchmark::kMillisecond);
BENCHMARK(Baseline_SmallObjectsIntoMap)->Arg(10'000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
