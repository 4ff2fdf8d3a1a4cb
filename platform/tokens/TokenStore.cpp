#include "platform/tokens/TokenStore.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "platform/AtomicWrite.h"
#include "platform/Codecs.h"
#include "platform/UserFolders.h"

namespace platform::tokens {

namespace {

using Json = nlohmann::ordered_json;
constexpr std::uintmax_t maxFileSize = 1024 * 1024;
// Temporary files of a write: ".write-" and six letters or digits. Readers pass over them (configuration
// files start with "t"); the next write removes those that an interrupted write left.
constexpr std::string_view temporaryPrefix = ".write-";

Json toJson(const TokenConfiguration& configuration) {
    Json items = Json::array();
    for (const auto& item : configuration.keychainItems)
        items.push_back({{"kind", item.kind == KeychainItem::Kind::certificate ? "certificate" : "key"},
                         {"objectID", item.objectID},
                         {"certificate", base64Encoded(item.certificateData)}});
    return {{"instanceID", configuration.instanceID}, {"keychainItems", items}};
}

std::optional<TokenConfiguration> fromJson(const Json& json) {
    if (!json.is_object() || !json.contains("instanceID") || !json["instanceID"].is_string() ||
        !json.contains("keychainItems") || !json["keychainItems"].is_array())
        return std::nullopt;
    TokenConfiguration configuration;
    configuration.instanceID = json["instanceID"].get<std::string>();
    for (const auto& item : json["keychainItems"]) {
        if (!item.is_object())
            return std::nullopt;
        auto kind = item.find("kind");
        auto objectID = item.find("objectID");
        auto certificate = item.find("certificate");
        if (kind == item.end() || !kind->is_string() || objectID == item.end() || !objectID->is_string() ||
            certificate == item.end() || !certificate->is_string())
            return std::nullopt;
        KeychainItem parsed;
        auto kindText = kind->get<std::string>();
        if (kindText == "certificate")
            parsed.kind = KeychainItem::Kind::certificate;
        else if (kindText == "key")
            parsed.kind = KeychainItem::Kind::key;
        else
            return std::nullopt;
        parsed.objectID = objectID->get<std::string>();
        auto data = base64Decoded(certificate->get<std::string>());
        if (!data)
            return std::nullopt;
        parsed.certificateData = std::move(*data);
        configuration.keychainItems.push_back(std::move(parsed));
    }
    return configuration;
}

std::optional<TokenConfiguration> readFile(const std::filesystem::path& path) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error))
        return std::nullopt;
    auto size = std::filesystem::file_size(path, error);
    if (error || size > maxFileSize)
        return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    if (!in && !in.eof())
        return std::nullopt;
    Json json = Json::parse(text.str(), nullptr, false);
    if (json.is_discarded())
        return std::nullopt;
    auto configuration = fromJson(json);
    if (!configuration || path.filename() != TokenStore::fileName(configuration->instanceID))
        return std::nullopt;
    return configuration;
}

void checkInstanceID(const std::string& instanceID) {
    if (instanceID.size() > maxInstanceIDLength)
        throw TokenStoreError(TokenStoreError::Code::invalidInstanceID, "instance id too long");
}

}  // namespace

TokenConfiguration TokenConfiguration::forCertificate(const std::string& instanceID,
                                                      const Bytes& certificateDER) {
    return TokenConfiguration{
        instanceID,
        {KeychainItem{KeychainItem::Kind::certificate, instanceID + "-leaf", certificateDER},
         KeychainItem{KeychainItem::Kind::key, instanceID, certificateDER}}};
}

std::optional<Bytes> TokenConfiguration::certificateData() const {
    for (const auto& item : keychainItems)
        if (item.kind == KeychainItem::Kind::certificate)
            return item.certificateData;
    return std::nullopt;
}

TokenStoreError::TokenStoreError(Code code, std::string detail) : code_(code), text_(std::move(detail)) {}

TokenStore::TokenStore() : TokenStore(defaultDriverFolder()) {}

TokenStore::TokenStore(std::filesystem::path driverFolder) : folder_(std::move(driverFolder)) {}

std::filesystem::path TokenStore::defaultDriverFolder() {
    return platform::dataHome() / "quorvane" / "tokens" / driverClassID;
}

std::string TokenStore::fileName(const std::string& instanceID) {
    std::string encoded = base64URLEncoded(toBytes(instanceID));
    while (!encoded.empty() && encoded.back() == '=')
        encoded.pop_back();
    return "t" + encoded + ".json";
}

bool TokenStore::isDriverInstalled() const {
    std::error_code error;
    return std::filesystem::is_directory(folder_, error);
}

void TokenStore::installDriver() const {
    // A folder found there must be this user's own: the token module serves whatever it holds.
    if (!makePrivateFolder(folder_))
        throw TokenStoreError(
            TokenStoreError::Code::writeFailed,
            folder_.native() + " cannot be made, or is not a private folder of this user's");
}

std::vector<TokenConfiguration> TokenStore::configurations() const {
    std::vector<TokenConfiguration> result;
    std::error_code error;
    std::filesystem::directory_iterator it(folder_, error), end;
    for (; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().native();
        if (name.size() < 6 || name.front() != 't' || !name.ends_with(".json"))
            continue;
        if (auto configuration = readFile(it->path()))
            result.push_back(std::move(*configuration));
    }
    std::sort(result.begin(), result.end(),
              [](const auto& a, const auto& b) { return a.instanceID < b.instanceID; });
    return result;
}

std::optional<TokenConfiguration> TokenStore::configuration(const std::string& instanceID) const {
    if (instanceID.size() > maxInstanceIDLength)
        return std::nullopt;
    return readFile(folder_ / fileName(instanceID));
}

void TokenStore::writeConfiguration(const TokenConfiguration& configuration) const {
    checkInstanceID(configuration.instanceID);
    if (!isDriverInstalled())
        return;
    std::string contents = toJson(configuration).dump(2) + "\n";
    auto target = folder_ / fileName(configuration.instanceID);
    if (!replaceFileAtomically(target, temporaryPrefix, contents))
        throw TokenStoreError(TokenStoreError::Code::writeFailed,
                              "cannot write " + target.native() + ": " + std::strerror(errno));
}

void TokenStore::removeConfiguration(const std::string& instanceID) const {
    if (instanceID.size() > maxInstanceIDLength)
        return;
    auto path = folder_ / fileName(instanceID);
    if (::unlink(path.c_str()) != 0 && errno != ENOENT)
        throw TokenStoreError(TokenStoreError::Code::removeFailed,
                              "cannot remove " + path.native() + ": " + std::strerror(errno));
}

void TokenStore::removeAllConfigurations() const {
    for (const auto& configuration : configurations())
        removeConfiguration(configuration.instanceID);
}

}  // namespace platform::tokens
