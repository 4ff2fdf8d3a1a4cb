#pragma once
// The token driver, token and session: a token per token configuration, a session per opening, and the one
// operation the token offers, signing a digest with ECDSA, whose signature comes from the app through the
// relay.
#include <exception>
#include <memory>
#include <optional>
#include <string>

#include "platform/Bytes.h"
#include "platform/tokens/TokenStore.h"
#include "relay/token/XPCClientLive.h"

namespace pellin {

// Operations as the token framework numbers them.
enum class TokenOperation : int {
    none = 0,
    readData = 1,
    signData = 2,
    decryptData = 3,
    performKeyExchange = 4
};

// Key algorithms, named as the platform names them.
namespace algorithms {
inline constexpr char ecdsaSignatureDigestX962SHA256[] = "algid:sign:ECDSA:digest-X962:SHA256";
inline constexpr char ecdsaSignatureDigestX962SHA384[] = "algid:sign:ECDSA:digest-X962:SHA384";
inline constexpr char ecdsaSignatureDigestX962SHA512[] = "algid:sign:ECDSA:digest-X962:SHA512";
inline constexpr char rsaSignatureDigestPKCS1v15SHA256[] = "algid:sign:RSA:digest-PKCS1v15:SHA256";
}  // namespace algorithms

// The token's one error, seen by the asking application.
class TokenError : public std::exception {
  public:
    static constexpr char domain[] = "TKErrorDomain";
    static constexpr int authenticationFailed = -5;
    static constexpr char description[] = "Could not retrieve signature because";

    int code() const { return authenticationFailed; }
    const char* what() const noexcept override { return description; }
};

class QuorvaneTokenDriver;
class QuorvaneTokenSession;

class QuorvaneToken : public std::enable_shared_from_this<QuorvaneToken> {
  public:
    QuorvaneToken(const QuorvaneTokenDriver& driver, std::string instanceID,
                  std::optional<platform::tokens::TokenConfiguration> configuration = std::nullopt);

    const std::string& instanceID() const { return instanceID_; }
    const std::optional<platform::tokens::TokenConfiguration>& configuration() const {
        return configuration_;
    }

    std::shared_ptr<QuorvaneTokenSession> createSession();

  private:
    std::string instanceID_;
    std::optional<platform::tokens::TokenConfiguration> configuration_;
};

class QuorvaneTokenDriver {
  public:
    // The token of a configuration; its instance id is the configuration's (empty when it has none). Never
    // fails.
    std::shared_ptr<QuorvaneToken> tokenForConfiguration(
        const std::optional<platform::tokens::TokenConfiguration>& configuration) const;
};

class QuorvaneTokenSession {
  public:
    // The waits of the relay client; by default the real ones times the QUORVANE_TIME_SCALE factor.
    explicit QuorvaneTokenSession(std::shared_ptr<QuorvaneToken> token,
                                  std::optional<Timeouts> timeouts = {});

    const std::shared_ptr<QuorvaneToken>& token() const { return token_; }

    // True only for signing with an ECDSA X9.62 digest algorithm (SHA-256, SHA-384 or SHA-512); the key is
    // not examined.
    bool supportsOperation(TokenOperation operation, const std::string& keyObjectID,
                           const std::string& algorithm) const;
    // Blocks for the whole exchange with the app. The data goes to the app unchanged and the signature comes
    // back as the app sent it. Throws TokenError when no signature arrives (an empty one included).
    platform::Bytes signData(const platform::Bytes& data, const std::string& keyObjectID,
                             const std::string& algorithm) const;

  private:
    std::shared_ptr<QuorvaneToken> token_;
    std::optional<Timeouts> timeouts_;
};

}  // namespace pellin
