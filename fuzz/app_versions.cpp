// The app-versions document (Quorvane/core EIDVersions). A document decodes all or nothing, failing only with
// a DecodingError, and what it decoded to is written and read back to the same document.
#include "Quorvane/core/EIDVersions.h"
#include "fuzz/FuzzCheck.h"

namespace json = platform::json;

namespace {

std::optional<EIDVersions> decoded(std::string_view bytes) {
    try {
        return EIDVersions::decode(bytes);
    } catch (const json::DecodingError&) {
        return std::nullopt;
    }
}

std::string written(const EIDVersions& document) {
    json::Json out;
    to_json(out, document);
    auto text = json::dump(out);
    FUZZ_CHECK(text.has_value(), "a decoded document can be written");
    return *text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto document = decoded(fuzz::text(data, size));
    if (!document)
        return 0;
    FUZZ_CHECK(size <= EIDVersions::maxDocumentSize, "no document beyond the limit");
    const std::string text = written(*document);
    auto again = decoded(text);
    FUZZ_CHECK(again.has_value(), "a written document decodes");
    FUZZ_CHECK(*again == *document && written(*again) == text, "a written document reads back alike");
    return 0;
}
