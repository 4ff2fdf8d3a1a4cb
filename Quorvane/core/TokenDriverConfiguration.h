#pragma once
// The app's side of the token driver "com.tovik.kelv-pc-signing-macos.pellin": one token configuration per
// card or wallet, named by the context's token identifier, holding the remote signing certificate as a
// certificate item "<id>-leaf" and a key item "<id>". The token module serves them to other applications. The
// app is their only writer; they outlive the app until removed.
//
// When the driver is not installed (no driver folder) every operation does nothing and reads find nothing.
// The app ships the token module, so for the app's own configuration the driver is always installed:
// registering makes the user's driver folder when it is missing (on first use, or after someone removed it).
// No operation throws: failures of the store are logged at error level.
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

    // Whether the driver folder is taken as found (its absence means the driver is not installed) or made by
    // registering, as the app does.
    enum class DriverFolder { asFound, madeOnRegistration };

    TokenDriverConfiguration(platform::tokens::TokenStore store, std::shared_ptr<LoggerClient> logger,
                             DriverFolder driverFolder = DriverFolder::asFound);
    TokenDriverConfiguration(platform::tokens::TokenStore store, LoggerSource logger,
                             DriverFolder driverFolder = DriverFolder::asFound);

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
    DriverFolder driverFolder_;
};
