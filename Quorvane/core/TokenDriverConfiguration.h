#pragma once
// The app's side of the token driver "com.tovik.kelv-pc-signing-macos.pellin": one token configuration per
// card or wallet, named by the context's token identifier, holding the remote signing certificate as a
// certificate item "<id>-leaf" and a key item "<id>". The token module serves them to other applications. The
// app is their only writer; they outlive the app until removed.
//
// When the driver is not installed every operation does nothing and reads find nothing. No operation throws:
// failures of the store are logged at error level.
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "outside/Logger/LoggerClient.h"
#include "platform/Bytes.h"
#include "platform/Date.h"
#include "platform/tokens/TokenStore.h"

class TokenDriverConfiguration {
  public:
    // How long after its certificate ended a configuration survives the stale sweep.
    static constexpr std::chrono::seconds staleGrace{900};

    // Gives the logger to write to, asked each time a line is written; none (or an empty function) logs
    // nothing.
    using LoggerSource = std::function<std::shared_ptr<LoggerClient>()>;

    TokenDriverConfiguration(platform::tokens::TokenStore store, std::shared_ptr<LoggerClient> logger);
    TokenDriverConfiguration(platform::tokens::TokenStore store, LoggerSource logger);

    // Makes the configuration hold exactly the certificate item "<id>-leaf" and the key item "<id>" made from
    // the certificate, replacing whatever it held. True once written; false when the bytes are not a DER
    // certificate (nothing changes), the driver is not installed, or the write failed (the earlier
    // configuration, if any, stays whole).
    bool registerToken(const std::string& instanceID, const platform::Bytes& certificateData);

    // The data of the configuration's first certificate item.
    std::optional<platform::Bytes> certificateData(const std::string& instanceID) const;

    void removeToken(const std::string& instanceID);
    void removeAllTokens();

    // Removes every configuration whose certificate is not yet valid at `now` or ended more than staleGrace
    // before it. Keeps those without a readable certificate or validity dates.
    void removeStaleTokens(platform::Date now);

    const platform::tokens::TokenStore& store() const { return store_; }

  private:
    void logError(const std::string& message) const;

    platform::tokens::TokenStore store_;
    LoggerSource logger_;
};
