// Writes the seed corpora of the fuzz targets, one folder per target: `fuzz_seeds <output folder> <source
// root>`.
//
// Seeds come from what the tests use: every string literal of the tests that feed the same parser, the
// resources' app-versions documents, the test PKI made afresh (certificates, PKCS#12 containers, signatures),
// and the wire texts of the project's own encoders (relay frames, bridge requests, deep links).
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "cardbridge/BridgeMessages.h"
#include "platform/Codecs.h"
#include "platform/SHA256.h"
#include "platform/testing/TestPKI.h"
#include "platform/xpc/Message.h"
#include "relay/token/ECKey.h"

namespace fs = std::filesystem;
using platform::Bytes;

namespace {

class Corpora {
  public:
    explicit Corpora(fs::path folder) : folder_(std::move(folder)) {}

    void add(const std::string& target, std::string_view seed) {
        const fs::path dir = folder_ / target;
        fs::create_directories(dir);
        std::ofstream out(dir / std::to_string(counts_[target]++), std::ios::binary);
        out.write(seed.data(), static_cast<std::streamsize>(seed.size()));
        if (!out)
            throw std::runtime_error("cannot write a seed of " + target);
    }
    void add(const std::string& target, const Bytes& seed) {
        add(target, std::string_view(reinterpret_cast<const char*>(seed.data()), seed.size()));
    }

  private:
    fs::path folder_;
    std::map<std::string, int> counts_;
};

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The string literals of a C++ source, adjacent ones joined, escapes read: the fixtures a test feeds its
// parser.
std::vector<std::string> stringLiterals(const std::string& source) {
    std::vector<std::string> literals;
    std::string current;
    bool joining = false;
    std::size_t i = 0;
    auto finish = [&] {
        if (joining && current.size() >= 2)
            literals.push_back(current);
        current.clear();
        joining = false;
    };
    while (i < source.size()) {
        const char c = source[i];
        if (source.compare(i, 2, "//") == 0) {
            i = source.find('\n', i);
            if (i == std::string::npos)
                break;
            continue;
        }
        if (source.compare(i, 3, "R\"(") == 0) {
            const auto end = source.find(")\"", i + 3);
            if (end == std::string::npos)
                break;
            current += source.substr(i + 3, end - i - 3);
            joining = true;
            i = end + 2;
        } else if (c == '"') {
            for (++i; i < source.size() && source[i] != '"'; ++i) {
                if (source[i] != '\\') {
                    current += source[i];
                    continue;
                }
                const char e = source[++i];
                const std::map<char, char> simple = {{'n', '\n'},  {'r', '\r'}, {'t', '\t'}, {'0', '\0'},
                                                     {'\\', '\\'}, {'"', '"'},  {'\'', '\''}};
                if (e == 'x') {
                    current += static_cast<char>(std::stoi(source.substr(i + 1, 2), nullptr, 16));
                    i += 2;
                } else if (simple.count(e)) {
                    current += simple.at(e);
                } else {
                    current += e;
                }
            }
            joining = true;
            ++i;
        } else if (c == '\'' && i > 0 && std::isdigit(static_cast<unsigned char>(source[i - 1]))) {
            ++i;  // a digit separator
        } else if (c == '\'') {
            const auto end = source.find('\'', i + (source[i + 1] == '\\' ? 3 : 2));  // a character literal
            if (end == std::string::npos)
                break;
            i = end + 1;
            finish();
        } else if (c == ' ' || c == '\n' || c == '\t') {
            ++i;
        } else {
            finish();
            ++i;
        }
    }
    finish();
    return literals;
}

void addLiterals(Corpora& corpora, const fs::path& root, const std::string& test,
                 const std::vector<std::string>& targets, const std::string& prefix = {}) {
    if (!fs::exists(root / test)) {
        std::fprintf(stderr, "fuzz_seeds: %s is gone: its fixtures seed nothing\n", test.c_str());
        return;
    }
    for (const auto& literal : stringLiterals(readFile(root / test)))
        for (const auto& target : targets)
            corpora.add(target, prefix + literal);
}

std::string bytesText(const Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

void addCertificates(Corpora& corpora) {
    using namespace testsupport;
    const auto& pki = ServerPKI::shared();
    std::vector<Issued> certificates = {pki.root,
                                        pki.intermediate,
                                        pki.leaf,
                                        pki.expiredLeaf,
                                        pki.client,
                                        issueCitizenCard("Ann", "Peeters", "71715100070"),
                                        issueCitizenCard("Jan", "Janssens", "85073003328", KeyType::ecP384),
                                        issueCitizenCard("Els", "Maes", "90010100123", KeyType::ecP521),
                                        issueCitizenCard("Bo", "Smet", "77010100222", KeyType::rsa2048)};
    for (const auto& issued : certificates) {
        corpora.add("certificate", issued.der());
        corpora.add("certificate", issued.certificatePEM());
        corpora.add("codecs", platform::base64Encoded(issued.der()));
        corpora.add("codecs", platform::base64URLEncoded(issued.der()));
        // A signature by the holder's key over the digest the token makes of a hash.
        auto fields = pellin::certificateFields(issued.der());
        if (fields && fields->ecKey) {
            const Bytes hash = platform::sha256(issued.der());
            const Bytes digest = fields->ecKey->digestFor(hash.data(), hash.size());
            std::string seed = bytesText(issued.der()) + static_cast<char>(hash.size()) + bytesText(hash);
            corpora.add("certificate", seed + bytesText(signDigest(issued, digest)));
        }
    }
}

// One byte of password length, the password, the container.
void addContainer(Corpora& corpora, const std::string& password, const Bytes& container) {
    corpora.add("pkcs12", static_cast<char>(password.size()) + password + bytesText(container));
}

// A container as cheap to open as can be: one round of key derivation keeps the fuzzer fast.
Bytes quickContainer(const testsupport::Issued& leaf, const std::vector<testsupport::Issued>& chain,
                     const std::string& password, int keyCipher, int certificateCipher) {
    STACK_OF(X509)* others = sk_X509_new_null();
    for (const auto& item : chain)
        sk_X509_push(others, item.certificate.x509());
    ::PKCS12* p12 = PKCS12_create(password.c_str(), "Test identity", leaf.key.get(), leaf.certificate.x509(),
                                  others, keyCipher, certificateCipher, 1, 1, 0);
    sk_X509_free(others);
    if (!p12)
        return {};
    Bytes out(static_cast<std::size_t>(std::max(i2d_PKCS12(p12, nullptr), 0)));
    unsigned char* cursor = out.data();
    i2d_PKCS12(p12, &cursor);
    PKCS12_free(p12);
    return out;
}

void addContainers(Corpora& corpora) {
    using namespace testsupport;
    const auto& pki = ServerPKI::shared();
    addContainer(corpora, "secret", makePKCS12(pki.client, {pki.root}, "secret"));
    addContainer(corpora, "", makePKCS12(pki.client, {}, ""));
    addContainer(corpora, "secret", makePKCS12(pki.leaf, {pki.intermediate, pki.root}, "secret", false));
    for (int cipher : {NID_aes_256_cbc, NID_pbe_WithSHA1And3_Key_TripleDES_CBC, -1}) {
        const Bytes quick = quickContainer(pki.leaf, {pki.intermediate, pki.root}, "pw", cipher, cipher);
        if (!quick.empty())
            addContainer(corpora, "pw", quick);
    }
}

void addRelayFrames(Corpora& corpora) {
    const Bytes hash = platform::sha256(platform::toBytes("document"));
    const std::vector<xpc::Message> messages = {
        {"register:for:", {std::string("/run/user/1000/quorvane/xpc/endpoint-1"), std::int64_t{0}}},
        {"register:for:", {std::string("/run/user/1000/quorvane/xpc/endpoint-2"), std::int64_t{1}}},
        {"sendAppIsReadySignal", {}},
        {"sendSignHashRequestWithHash:instanceID:",
         {hash, std::string("E621E1F8-C36C-495A-93FC-0C247A3E6E5F")}},
        {"sendSignRequestTimeout", {}},
        {"sendSignatureReadySignalWithSignature:", {Bytes(64, 0x5a)}},
        {"sendSignatureFailureSignal", {}},
        {"signWithHash:instanceID:", {hash, std::string("instance")}},
        {"signRequestTimeout", {}},
        {"appIsReady", {}},
        {"signatureReadyWithSignature:", {Bytes(96, 0xa5)}},
        {"signatureFailed", {}},
    };
    Bytes all;
    for (const auto& message : messages) {
        const Bytes frame = xpc::encodeFrame(message);
        corpora.add("relay_frames", frame);
        all.insert(all.end(), frame.begin(), frame.end());
    }
    corpora.add("relay_frames", all);
}

void addBridgeRequests(Corpora& corpora) {
    const auto card = testsupport::issueCitizenCard("Ann", "Peeters", "71715100070");
    pindle::SignRequest request;
    request.cert = platform::base64Encoded(card.der());
    request.digest = platform::base64Encoded(platform::sha256(platform::toBytes("document")));
    request.pin = "1234";
    request.correlationId = "E621E1F8-C36C-495A-93FC-0C247A3E6E5F";
    corpora.add("bridge",
                request.cert + "\n" + request.digest + "\n" + request.pin + "\n" + request.correlationId);
    platform::json::Json json;
    to_json(json, request);
    corpora.add("bridge", json.dump());
    corpora.add("json", json.dump());
}

std::string percentEncoded(std::string_view text) {
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) ||
            std::string_view("-._~").find(static_cast<char>(c)) != std::string_view::npos) {
            out += static_cast<char>(c);
        } else {
            char escape[4];
            std::snprintf(escape, sizeof escape, "%%%02X", c);
            out += escape;
        }
    }
    return out;
}

void addDeepLinks(Corpora& corpora) {
    const std::string request =
        R"({"version":"1","tokenId":"token-1","signData":[{"hash_base64":"n4bQgYhMfWWaL+qgxVrQFaO/TxsrC4Is0V1sFbDwCgg=",)"
        R"("docName":"contract.pdf"},{"hash_base64":"AAAA","docName":null}]})";
    const std::string encoded = platform::base64Encoded(platform::toBytes(request));
    for (const std::string callback : {"https://example.org/done?job=7", "http://127.0.0.1:8080/cb#top",
                                       "https://example.org/done?", "https://[::1]/a?b=c&"}) {
        corpora.add("deeplink",
                    "quorvane://bulk?request=" + encoded + "&callback=" + percentEncoded(callback));
        corpora.add("deeplink", "quorvane://bulk?request=" + percentEncoded(encoded) +
                                    "&callback=" + percentEncoded(callback) + "&value=%C3%A9%20%2B%26");
    }
    for (const char* link : {"quorvane://sign", "quorvane://certificate", "quorvane:bulk", "quorvane://bulk"})
        corpora.add("deeplink", link);
    corpora.add("deeplink", request);
    corpora.add("json", request);
}

void addJsonShapes(Corpora& corpora) {
    corpora.add("json", R"(W{"a":[1,2.5,-3e2,"x\u00e9",true,null]})");
    corpora.add("json", "W7");
    for (int depth : {63, 64, 65})
        corpora.add("json", std::string("D") + static_cast<char>(depth) + "[1]");
    corpora.add("json", R"([18446744073709551615,-9223372036854775808,1e19,2.0,1.5,"\ud83d\ude00"])");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: fuzz_seeds <output folder> <source root>\n");
        return 2;
    }
    const fs::path root = argv[2];
    Corpora corpora(argv[1]);
    try {
        // An HTTP seed starts with the reader's settings (no HEAD, a body limit of 1 MiB) and its split
        // point.
        const std::string httpSettings("\x06\x00\x00", 3);
        addLiterals(corpora, root, "http/tests/HTTPResponseParserTests.cpp", {"http_response"}, httpSettings);
        addLiterals(corpora, root, "platform/tests/JsonTests.cpp", {"json"});
        addLiterals(corpora, root, "platform/tests/CodecsTests.cpp", {"codecs"});
        addLiterals(corpora, root, "cardbridge/tests/BridgeMessagesTests.cpp", {"bridge", "json"});
        addLiterals(corpora, root, "cardbridge/tests/VexoConnectInvokerTests.cpp", {"bridge"});
        addLiterals(corpora, root, "Quorvane/core/tests/AppVersionsTests.cpp", {"app_versions"});
        addLiterals(corpora, root, "Quorvane/shell/tests/DeepLinkTests.cpp", {"deeplink"});
        // An API seed starts with the reply type it is read as: each fixture as every type.
        for (char type = 0; type < 11; ++type)
            addLiterals(corpora, root, "api/tests/WireTests.cpp", {"api_replies"}, std::string(1, type));
        for (const auto& entry : fs::directory_iterator(root / "Quorvane/resources")) {
            const auto name = entry.path().filename().string();
            if (name.starts_with("appversions_") && name.ends_with(".json")) {
                corpora.add("app_versions", readFile(entry.path()));
                corpora.add("json", readFile(entry.path()));
            }
        }
        addCertificates(corpora);
        addContainers(corpora);
        addRelayFrames(corpora);
        addBridgeRequests(corpora);
        addDeepLinks(corpora);
        addJsonShapes(corpora);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "fuzz_seeds: %s\n", e.what());
        return 1;
    }
    return 0;
}
