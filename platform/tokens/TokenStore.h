#pragma once
// The token configurations of the token driver "com.tovik.kelv-pc-signing-macos.pellin": the app writes them,
// the token module (relay/token) reads them. Plain C++.
//
// Storage: one JSON file per configuration in the driver folder
//   $XDG_DATA_HOME/quorvane/tokens/com.tovik.kelv-pc-signing-macos.pellin/
// (~/.local/share when XDG_DATA_HOME is unset). No driver folder means the driver is not installed: then
// writes and removals do nothing and reads find nothing. A file is named "t" + the Base64url (unpadded) of
// the UTF-8 instance id + ".json", so any instance id (the empty one included) gives a safe name. Its
// contents:
//   {
//     "instanceID": "<instance id>",
//     "keychainItems": [
//       {"kind": "certificate", "objectID": "<instance id>-leaf", "certificate": "<Base64 of the DER
//       certificate>"},
//       {"kind": "key", "objectID": "<instance id>", "certificate": "<Base64 of the DER certificate it was
//       made from>"}
//     ]
//   }
// Files are written whole or not at all (temporary file ".write-XXXXXX", fsync, rename;
// platform/AtomicWrite.h) with mode 0600; a write first removes the temporary files that interrupted writes
// left. Readers skip files that do not parse or whose name does not match their instance id.
#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/Bytes.h"

namespace platform::tokens {

inline constexpr char driverClassID[] = "com.tovik.kelv-pc-signing-macos.pellin";
// Longest instance id (in UTF-8 bytes) that fits a file name.
inline constexpr std::size_t maxInstanceIDLength = 180;

struct KeychainItem {
    enum class Kind { certificate, key };
    Kind kind = Kind::certificate;
    std::string objectID;
    Bytes certificateData;  // DER; for a key, the certificate it was made from

    bool operator==(const KeychainItem&) const = default;
};

struct TokenConfiguration {
    std::string instanceID;
    std::vector<KeychainItem> keychainItems;

    // The items the app registers for a certificate: the certificate under "<id>-leaf" and its key under
    // "<id>".
    static TokenConfiguration forCertificate(const std::string& instanceID, const Bytes& certificateDER);
    // The data of the first certificate item.
    std::optional<Bytes> certificateData() const;

    bool operator==(const TokenConfiguration&) const = default;
};

class TokenStoreError : public std::exception {
  public:
    enum class Code { invalidInstanceID, writeFailed, removeFailed };
    TokenStoreError(Code code, std::string detail);
    Code code() const { return code_; }
    const char* what() const noexcept override { return text_.c_str(); }

  private:
    Code code_;
    std::string text_;
};

class TokenStore {
  public:
    // The store in the default driver folder.
    TokenStore();
    explicit TokenStore(std::filesystem::path driverFolder);

    static std::filesystem::path defaultDriverFolder();
    const std::filesystem::path& driverFolder() const { return folder_; }

    bool isDriverInstalled() const;
    // Makes the driver folder, and any missing folder above it, with mode 0700 (platform/UserFolders); one
    // that exists must be a folder of this user's, not a link (made private when it is not). Throws
    // TokenStoreError.
    void installDriver() const;

    // Every configuration, ordered by instance id.
    std::vector<TokenConfiguration> configurations() const;
    std::optional<TokenConfiguration> configuration(const std::string& instanceID) const;
    // Adds the configuration or replaces the one with the same instance id. Does nothing when the driver is
    // not installed. Throws TokenStoreError.
    void writeConfiguration(const TokenConfiguration& configuration) const;
    // Does nothing when there is no such configuration. Throws TokenStoreError.
    void removeConfiguration(const std::string& instanceID) const;
    void removeAllConfigurations() const;

    // The file name of an instance id's configuration.
    static std::string fileName(const std::string& instanceID);

  private:
    std::filesystem::path folder_;
};

}  // namespace platform::tokens
