#pragma once
// The token driver, token and session: a token per token configuration, a session per opening, and the one
// operation the token offers, signing a digest with ECDSA, whose signature comes from the app through the
// relay.
#include <exception>
#include <memory>
#include <mutex>
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

    // The waits of the relay client, as the driver has them.
    const Timeouts& timeouts() const { return timeouts_; }

    std::shared_ptr<QuorvaneTokenSession> createSession();

  private:
    std::string instanceID_;
    std::optional<platform::tokens::TokenConfiguration> configuration_;
    Timeouts timeouts_;
};

class QuorvaneTokenDriver {
  public:
    // The relay client's waits of every token of this driver (the real ones unless a test build shrinks
    // them).
    explicit QuorvaneTokenDriver(Timeouts timeouts = {}) : timeouts_(timeouts) {}

    // The token of a configuration; its instance id is the configuration's (empty when it has none). Never
    // fails.
    std::shared_ptr<QuorvaneToken> tokenForConfiguration(
        const std::optional<platform::tokens::TokenConfiguration>& configuration) const;

    const Timeouts& timeouts() const { return timeouts_; }

  private:
    Timeouts timeouts_;
};

class QuorvaneTokenSession {
  public:
    explicit QuorvaneTokenSession(std::shared_ptr<QuorvaneToken> token);

    const std::shared_ptr<QuorvaneToken>& token() const { return token_; }

    // True only for signing with an ECDSA X9.62 digest algorithm (SHA-256, SHA-384 or SHA-512); the key is
    // not examined.
    bool supportsOperation(TokenOperation operation, const std::string& keyObjectID,
                           const std::string& algorithm) const;
    // Blocks for the whole exchange with the app. The data goes to the app unchanged and the signature comes
    // back as the app sent it. Throws TokenError when no signature arrives (an empty one included), also when
    // the session is closed meanwhile.
    platform::Bytes signData(const platform::Bytes& data, const std::string& keyObjectID,
                             const std::string& algorithm);
    // The session is going away: a signature that is waiting ends at once, and later ones fail at once.
    // Callable from any thread.
    void close();

  private:
    std::shared_ptr<QuorvaneToken> token_;
    std::mutex mutex_;  // guards the two below
    bool closed_ = false;
    std::shared_ptr<Cancellation> signing_;  // of the signature that is waiting
};

}  // namespace pellin
