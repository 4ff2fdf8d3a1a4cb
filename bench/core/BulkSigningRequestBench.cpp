// The bulk deep link's request of 10,000 hashes turned into the hash entries of the consent request, against
// the least that any decoder must do with the same text: parse it with plain nlohmann::json and Base64-decode
// every hash.
//
// Goal: at most 1.25 times the baseline.
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "Quorvane/core/SigningRequestType.h"
#include "platform/Codecs.h"
#include "platform/Json.h"

namespace {

constexpr int documentCount = 10'000;

const std::string& requestText() {
    static const std::string text = [] {
        std::mt19937 random(42);
        platform::json::Json signData = platform::json::Json::array();
        for (int i = 0; i < documentCount; ++i) {
            platform::Bytes hash(32);
            for (auto& byte : hash)
                byte = static_cast<std::uint8_t>(random());
            platform::json::Json document;
            document["hash_base64"] = platform::base64Encoded(hash);
            if (i % 2 == 0)
                document["docName"] = "document-" + std::to_string(i) + ".pdf";
            signData.push_back(std::move(document));
        }
        platform::json::Json request;
        request["version"] = "1";
        request["tokenId"] = "WALLET_TOKEN_IDENTIFIER";
        request["signData"] = std::move(signData);
        return request.dump();
    }();
    return text;
}

void BulkRequestToHashList(benchmark::State& state) {
    const auto& text = requestText();
    for (auto _ : state) {
        auto request =
            SigningRequestType::bulk(BulkSigningRequest::fromJSON(text), "https://caller.test/done");
        auto hashes = request.hashesToSign();
        if (hashes.size() != documentCount)
            state.SkipWithError("wrong number of hashes");
        benchmark::DoNotOptimize(hashes.data());
    }
    state.SetItemsProcessed(state.iterations() * documentCount);
}

void Baseline_ParseJSONAndDecodeHashes(benchmark::State& state) {
    const auto& text = requestText();
    for (auto _ : state) {
        auto json = nlohmann::json::parse(text);
        std::size_t decoded = 0;
        for (const auto& document : json["signData"]) {
            auto hash = platform::base64Decoded(document["hash_base64"].get_ref<const std::string&>());
            decoded += hash ? hash->size() : 0;
        }
        if (decoded != 32u * documentCount)
            state.SkipWithError("wrong number of bytes");
        benchmark::DoNotOptimize(decoded);
    }
    state.SetItemsProcessed(state.iterations() * documentCount);
}

BENCHMARK(BulkRequestToHashList)->Unit(benchmark::kMillisecond);
BENCHMARK(Baseline_ParseJSONAndDecodeHashes)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
