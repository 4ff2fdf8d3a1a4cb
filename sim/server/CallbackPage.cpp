#include "CallbackPage.h"

#include <openssl/objects.h>

namespace sim {

namespace {

// Enough for the callbacks of many demo requests; older ones are forgotten.
constexpr std::size_t kKeptConsents = 32;
// A callback longer than a URL may be cannot list more; the rest is not checked.
constexpr std::size_t kMaxCheckedSignatures = 1000;

std::string escaped(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> pieces;
    if (text.empty())
        return pieces;
    std::size_t start = 0;
    while (pieces.size() < kMaxCheckedSignatures) {
        auto end = text.find(separator, start);
        pieces.push_back(text.substr(start, end - start));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return pieces;
}

}  // namespace

void SignedConsents::add(std::vector<Bytes> hashes, X509* certificate) {
    X509_up_ref(certificate);
    auto consent = std::make_shared<Consent>(Consent{std::move(hashes), Cert(certificate)});
    std::lock_guard lock(mutex_);
    consents_.push_front(std::move(consent));
    if (consents_.size() > kKeptConsents)
        consents_.pop_back();
}

std::string SignedConsents::page(const std::optional<std::string>& signatures,
                                 const std::optional<std::string>& error) const {
    std::deque<std::shared_ptr<const Consent>> consents;
    {
        std::lock_guard lock(mutex_);
        consents = consents_;
    }
    std::string body;
    if (error) {
        body += "<p class=\"error\">The signing failed: " + escaped(*error) + "</p>\n";
    } else if (!signatures) {
        body += "<p class=\"error\">This link holds neither signatures nor an error.</p>\n";
    } else {
        auto pieces = split(*signatures, ',');
        if (pieces.empty())
            body += "<p class=\"error\">The callback holds no signature.</p>\n";
        body += "<ol>\n";
        for (std::size_t i = 0; i < pieces.size(); ++i) {
            auto signature = base64URLDecoded(pieces[i]);
            std::string item;
            if (!signature) {
                item =
                    "<li class=\"undecodable\">not Base64url: " + escaped(pieces[i].substr(0, 64)) + "</li>";
            } else {
                // Signatures come in the order of the consented hashes.
                for (const auto& consent : consents) {
                    if (consent->hashes.size() != pieces.size() ||
                        !verifyDigestSignature(consent->certificate.get(), consent->hashes[i], *signature))
                        continue;
                    auto signer = subjectEntry(consent->certificate.get(), NID_commonName).value_or("?");
                    item = "<li class=\"verified\">verifies: document hash " +
                           escaped(base64Encoded(consent->hashes[i])) + ", signed with the certificate of " +
                           escaped(signer) + "</li>";
                    break;
                }
                if (item.empty())
                    item =
                        "<li class=\"unverified\">does not verify against a hash the server consented "
                        "to</li>";
            }
            body += item + "\n";
        }
        body += "</ol>\n";
    }
    return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Signing result</title></head>\n"
           "<body>\n<h1>Signing result</h1>\n" +
           body + "</body></html>\n";
}

}  // namespace sim
