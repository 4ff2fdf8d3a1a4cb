#include "http/SessionDelegate.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <QHostAddress>
#include <memory>

namespace vastel {

namespace {

std::string lowerCased(std::string_view text) {
    std::string out(text);
    for (auto& c : out)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return out;
}

QSslCertificate toQt(const platform::Bytes& der) {
    return QSslCertificate(QByteArray(reinterpret_cast<const char*>(der.data()), qsizetype(der.size())),
                           QSsl::Der);
}

platform::Bytes toBytes(const QByteArray& data) {
    return platform::Bytes(data.begin(), data.end());
}

QSslKey toQtKey(EVP_PKEY* key) {
    if (!key)
        return {};
    QSsl::KeyAlgorithm algorithm;
    switch (EVP_PKEY_get_base_id(key)) {
        case EVP_PKEY_RSA:
            algorithm = QSsl::Rsa;
            break;
        case EVP_PKEY_EC:
            algorithm = QSsl::Ec;
            break;
        case EVP_PKEY_DSA:
            algorithm = QSsl::Dsa;
            break;
        default:
            return {};
    }
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), BIO_free);
    if (!bio || PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) != 1)
        return {};
    char* data = nullptr;
    long length = BIO_get_mem_data(bio.get(), &data);
    QByteArray pem(data, qsizetype(length));
    QSslKey result(pem, algorithm, QSsl::Pem, QSsl::PrivateKey);
    // The PEM holds the private key in the clear: wipe the copy.
    pem.fill('\0');
    return result;
}

// `base` plus the certificates, without duplicates. The system store is listed explicitly: replacing the list
// would otherwise leave it out.
QList<QSslCertificate> withAnchors(const QList<QSslCertificate>& base, const QList<QSslCertificate>& extra) {
    QList<QSslCertificate> result = QSslConfiguration::systemCaCertificates();
    for (const auto& list : {base, extra})
        for (const auto& certificate : list)
            if (!result.contains(certificate))
                result.append(certificate);
    return result;
}

struct X509Deleter {
    void operator()(X509* x) const { X509_free(x); }
};
using X509Ptr = std::unique_ptr<X509, X509Deleter>;

X509Ptr parseDER(const platform::Bytes& der) {
    const unsigned char* p = der.data();
    X509Ptr x(d2i_X509(nullptr, &p, long(der.size())));
    if (!x || p != der.data() + der.size())
        return nullptr;
    return x;
}

}  // namespace

SessionDelegate::SessionDelegate(const APIEnvironment& environment)
    : trustedCertificatesData_(environment.trustedCertificatesData), pkcs12_(environment.clientCertificate) {
    QUrl base(QString::fromStdString(environment.basePath), QUrl::StrictMode);
    if (base.isValid())
        trustedHost_ = base.host().toStdString();
    for (const auto& der : trustedCertificatesData_) {
        auto certificate = toQt(der);
        if (!certificate.isNull())
            pinnedCertificates_.append(certificate);
    }
    if (pkcs12_ && pkcs12_->identity()) {
        const auto& identity = *pkcs12_->identity();
        localCertificate_ = toQt(identity.certificate.data());
        privateKey_ = toQtKey(identity.privateKey.get());
    }
}

bool SessionDelegate::challengeHostMatches(std::string_view host) const {
    return !trustedHost_.empty() && lowerCased(host) == trustedHost_;
}

bool SessionDelegate::redirectAllowed(const QUrl& proposedURL) const {
    if (!proposedURL.isValid() || proposedURL.isEmpty())
        return false;
    if (proposedURL.scheme().toLower() != QLatin1String("https"))
        return false;
    const auto host = proposedURL.host();
    if (host.isEmpty())
        return false;
    return !trustedHost_.empty() && host.toLower().toStdString() == trustedHost_;
}

bool SessionDelegate::pinCheckPasses(const std::vector<platform::Bytes>& verifiedChain) const {
    if (trustedCertificatesData_.empty())
        return true;
    for (const auto& certificate : verifiedChain)
        for (const auto& pinned : trustedCertificatesData_)
            if (certificate == pinned)
                return true;
    return false;
}

bool SessionDelegate::serverTrustAccepted(std::string_view host, const QList<QSslCertificate>& presentedChain,
                                          const QList<QSslCertificate>& anchors) const {
    if (!challengeHostMatches(host))
        return false;
    if (trustedCertificatesData_.empty())
        return true;
    std::vector<platform::Bytes> presented;
    for (const auto& certificate : presentedChain)
        presented.push_back(toBytes(certificate.toDer()));
    std::vector<platform::Bytes> anchorData;
    for (const auto& certificate : anchors)
        anchorData.push_back(toBytes(certificate.toDer()));
    for (const auto& pinned : trustedCertificatesData_)
        anchorData.push_back(pinned);
    auto chain = verifiedChain(presented, anchorData, host);
    return chain && pinCheckPasses(*chain);
}

QSslConfiguration SessionDelegate::sslConfiguration() const {
    auto configuration = QSslConfiguration::defaultConfiguration();
    configuration.setPeerVerifyMode(QSslSocket::VerifyPeer);
    if (!pinnedCertificates_.isEmpty()) {
        if (!pinnedAnchors_)
            pinnedAnchors_ = withAnchors(configuration.caCertificates(), pinnedCertificates_);
        configuration.setCaCertificates(*pinnedAnchors_);
    }
    if (hasClientIdentity()) {
        configuration.setLocalCertificate(localCertificate_);
        configuration.setPrivateKey(privateKey_);
    }
    return configuration;
}

std::optional<std::vector<platform::Bytes>> verifiedChain(const std::vector<platform::Bytes>& presentedChain,
                                                          const std::vector<platform::Bytes>& anchors,
                                                          std::string_view host, bool useSystemStore) {
    if (presentedChain.empty())
        return std::nullopt;
    std::unique_ptr<X509_STORE, decltype(&X509_STORE_free)> store(X509_STORE_new(), X509_STORE_free);
    std::unique_ptr<X509_STORE_CTX, decltype(&X509_STORE_CTX_free)> context(X509_STORE_CTX_new(),
                                                                            X509_STORE_CTX_free);
    std::unique_ptr<STACK_OF(X509), void (*)(STACK_OF(X509)*)> untrusted(
        sk_X509_new_null(), [](STACK_OF(X509) * s) { sk_X509_pop_free(s, X509_free); });
    if (!store || !context || !untrusted)
        return std::nullopt;
    if (useSystemStore && X509_STORE_set_default_paths(store.get()) != 1)
        return std::nullopt;
    for (const auto& der : anchors) {
        auto anchor = parseDER(der);
        if (anchor)
            X509_STORE_add_cert(store.get(), anchor.get());
    }
    auto leaf = parseDER(presentedChain.front());
    if (!leaf)
        return std::nullopt;
    for (size_t i = 1; i < presentedChain.size(); ++i) {
        auto certificate = parseDER(presentedChain[i]);
        if (!certificate)
            return std::nullopt;
        if (sk_X509_push(untrusted.get(), certificate.get()) == 0)
            return std::nullopt;
        certificate.release();
    }
    if (X509_STORE_CTX_init(context.get(), store.get(), leaf.get(), untrusted.get()) != 1)
        return std::nullopt;
    if (X509_STORE_CTX_set_default(context.get(), "ssl_server") != 1)
        return std::nullopt;
    X509_VERIFY_PARAM* parameters = X509_STORE_CTX_get0_param(context.get());
    std::string hostText(host);
    if (hostText.empty())
        return std::nullopt;
    QHostAddress address;
    int hostSet = address.setAddress(QString::fromStdString(hostText))
                      ? X509_VERIFY_PARAM_set1_ip_asc(parameters, hostText.c_str())
                      : X509_VERIFY_PARAM_set1_host(parameters, hostText.c_str(), hostText.size());
    if (hostSet != 1)
        return std::nullopt;
    if (X509_verify_cert(context.get()) != 1)
        return std::nullopt;
    std::vector<platform::Bytes> chain;
    STACK_OF(X509)* verified = X509_STORE_CTX_get0_chain(context.get());
    for (int i = 0; i < sk_X509_num(verified); ++i) {
        X509* certificate = sk_X509_value(verified, i);
        unsigned char* der = nullptr;
        int length = i2d_X509(certificate, &der);
        if (length <= 0)
            return std::nullopt;
        chain.emplace_back(der, der + length);
        OPENSSL_free(der);
    }
    return chain;
}

}  // namespace vastel
