// The bulk deep link ("quorvane://bulk?request=…&callback=…"), read with the parts the application delegate
// reads it with: the URL and its query (Qt, strict mode), the request's strict Base64, the request's JSON
// (Quorvane/core BulkSigningRequest) and the callback (Quorvane/core BulkSigningCallback).
//
// The input is the link; its text is also read as a request's JSON on its own. A decoded request reads back
// from a plain writing of it; an accepted callback stays one once the app's answer joins it, with that answer
// as its last query item and its fragment kept.
#include <QUrl>
#include <QUrlQuery>
#include <string>

#include "Quorvane/core/BulkSigningCallback.h"
#include "Quorvane/core/BulkSigningRequest.h"
#include "fuzz/FuzzCheck.h"
#include "platform/Codecs.h"

namespace json = platform::json;

namespace {

std::optional<BulkSigningRequest> decodedRequest(std::string_view text) {
    try {
        return BulkSigningRequest::fromJSON(text);
    } catch (const json::DecodingError&) {
        return std::nullopt;
    }
}

void checkRequest(std::string_view text) {
    auto request = decodedRequest(text);
    if (!request)
        return;
    nlohmann::json written = {{"version", request->version}, {"tokenId", request->tokenId}};
    written["signData"] = nlohmann::json::array();
    for (const auto& document : request->signData) {
        nlohmann::json entry = {{"hash_base64", document.hash}};
        if (document.docName)
            entry["docName"] = *document.docName;
        written["signData"].push_back(entry);
    }
    FUZZ_CHECK(decodedRequest(written.dump()) == request, "a request reads back from its plain writing");
}

void checkAnswer(const std::string& callback, const std::string& value) {
    if (!bulksigning::isAcceptedCallback(callback))
        return;
    const std::string answer = bulksigning::callbackWithQueryItem(callback, "error", value);
    FUZZ_CHECK(bulksigning::isAcceptedCallback(answer), "an answer goes to a web address");
    const QUrl before(QString::fromStdString(callback), QUrl::StrictMode);
    const QUrl after(QString::fromStdString(answer), QUrl::StrictMode);
    FUZZ_CHECK(after.scheme() == before.scheme() && after.host() == before.host() &&
                   after.path() == before.path() && after.fragment() == before.fragment(),
               "an answer goes where the callback points");
    const auto items = QUrlQuery(after).queryItems(QUrl::FullyDecoded);
    FUZZ_CHECK(!items.isEmpty() && items.back().first == "error" &&
                   items.back().second == QString::fromStdString(value),
               "the answer is the last query item");
}

// The first item of the name, fully decoded, as the delegate takes it: none without a value.
std::optional<std::string> firstQueryValue(const QUrlQuery& query, const QString& name) {
    if (!query.hasQueryItem(name))
        return std::nullopt;
    const QString value = query.queryItemValue(name, QUrl::FullyDecoded);
    if (value.isEmpty())
        return std::nullopt;
    return value.toStdString();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto input = fuzz::text(data, size);
    checkRequest(input);

    const std::string link(input);
    const QUrl url(QString::fromStdString(link), QUrl::StrictMode);
    const QUrlQuery query(url);
    const auto request = firstQueryValue(query, "request");
    const auto callback = firstQueryValue(query, "callback");
    if (request) {
        if (auto bytes = platform::base64Decoded(*request))
            checkRequest(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
    }
    if (callback) {
        checkAnswer(*callback, "Fordidden");
        checkAnswer(*callback, firstQueryValue(query, "value").value_or(""));
    }
    return 0;
}
