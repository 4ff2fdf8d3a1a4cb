#pragma once
// The one error that the operations of the remote-signing API clients fail with.
#include <exception>
#include <optional>
#include <string>
#include <vector>

namespace halcyra {

class HalcyraError : public std::exception {
  public:
    enum class Kind { backendError, networkError, otherError };

    // The server refused the request with a readable error body; message and FAQ link in the user's language.
    static HalcyraError backendError(int statusCode, std::vector<std::string> supportIds, std::string message,
                                     std::optional<std::string> faqUrl);
    // No usable HTTP answer; the HTTP client's error, unchanged (normally a vastel::VastelError).
    static HalcyraError networkError(std::exception_ptr rawError);
    static HalcyraError otherError(std::string message);

    Kind kind() const { return kind_; }
    // backendError
    int statusCode() const { return statusCode_; }
    const std::vector<std::string>& supportIds() const { return supportIds_; }
    const std::optional<std::string>& faqUrl() const { return faqUrl_; }
    // backendError and otherError
    const std::string& message() const { return message_; }
    // networkError
    std::exception_ptr rawError() const { return rawError_; }

    // backendError: the server's message; networkError: "Network error: %@." with the raw error's
    // description; otherError: "Unexpected error: %@." with the message (both looked up in "Localizable").
    std::string errorDescription() const;
    const char* what() const noexcept override { return what_.c_str(); }

  private:
    explicit HalcyraError(Kind kind) : kind_(kind) {}
    void describe();

    Kind kind_;
    int statusCode_ = 0;
    std::vector<std::string> supportIds_;
    std::string message_;
    std::optional<std::string> faqUrl_;
    std::exception_ptr rawError_;
    std::string what_;
};

// The description of an error as the HTTP client's errors give it.
std::string localizedDescription(std::exception_ptr error);

}  // namespace halcyra
