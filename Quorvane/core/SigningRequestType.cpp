#include "SigningRequestType.h"

#include "platform/Codecs.h"

namespace {

constexpr std::size_t maximumHashLength = 32;

std::string firstBytesAsBase64(const platform::Bytes& bytes) {
    if (bytes.size() <= maximumHashLength)
        return platform::base64Encoded(bytes);
    return platform::base64Encoded(platform::Bytes(bytes.begin(), bytes.begin() + maximumHashLength));
}

}  // namespace

std::vector<halcyra::GetDataToConsentRequest::HashToSign> SigningRequestType::hashesToSign() const {
    using HashToSign = halcyra::GetDataToConsentRequest::HashToSign;
    std::vector<HashToSign> hashes;
    if (const auto* overXPC = std::get_if<OverXPC>(&value)) {
        hashes.push_back(
            HashToSign{unnamedDocumentLabel, overXPC->hash ? firstBytesAsBase64(*overXPC->hash) : ""});
        return hashes;
    }
    const auto& bulk = std::get<Bulk>(value);
    hashes.reserve(bulk.request.signData.size());
    for (const auto& document : bulk.request.signData) {
        // Strict Base64 has one text per byte string: a hash short enough goes out as it came.
        auto decoded = platform::base64Decoded(document.hash);
        std::string text;
        if (decoded)
            text = decoded->size() <= maximumHashLength ? document.hash : firstBytesAsBase64(*decoded);
        hashes.push_back(HashToSign{document.docName.value_or(unnamedDocumentLabel), std::move(text)});
    }
    return hashes;
}

std::string SigningRequestType::hashAlgorithmOID(const platform::Bytes& hash) {
    switch (hash.size()) {
        case 32:
            return "2.16.840.1.101.3.4.2.1";
        case 48:
            return "2.16.840.1.101.3.4.2.2";
        default:
            return "2.16.840.1.101.3.4.2.3";
    }
}
