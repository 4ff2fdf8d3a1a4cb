#pragma once
// Errors of the bridge exchange. Platform failures (the launch error, a read error) and the JSON decoder's
// own errors are not wrapped: they reach the caller as ProcessError and platform::json::DecodingError.
#include <exception>
#include <optional>
#include <string>

namespace pindle {

class VexoConnectError : public std::exception {
  public:
    // In declaration order; the order gives the error number of the generic description.
    enum class Case {
        decodingFailed,
        errorResponse,
        executableNotFound,
        encodingFailed,
        invalidReplyEncoding,
        unexpectedEOF
    };

    static VexoConnectError decodingFailed(std::string decodingError, std::string replyText);
    static VexoConnectError errorResponse(std::string result, std::optional<std::string> resultRaw);
    static VexoConnectError executableNotFound() { return VexoConnectError(Case::executableNotFound); }
    static VexoConnectError encodingFailed() { return VexoConnectError(Case::encodingFailed); }
    static VexoConnectError invalidReplyEncoding() { return VexoConnectError(Case::invalidReplyEncoding); }
    static VexoConnectError unexpectedEOF() { return VexoConnectError(Case::unexpectedEOF); }

    Case kind() const { return case_; }
    // decodingFailed: the decoder's error and the reply text.
    const std::string& decodingError() const { return decodingError_; }
    const std::string& replyText() const { return replyText_; }
    // errorResponse: the reply's "result" and "resultRaw".
    const std::string& result() const { return result_; }
    const std::optional<std::string>& resultRaw() const { return resultRaw_; }

    // The type has no texts of its own: its description is the generic one of an error without a message.
    const char* what() const noexcept override { return description_.c_str(); }

  private:
    explicit VexoConnectError(Case kind);
    Case case_;
    std::string decodingError_;
    std::string replyText_;
    std::string result_;
    std::optional<std::string> resultRaw_;
    std::string description_;
};

// A failure of the bridge process itself, with the platform's description: it could not be launched, its
// output could not be read, it did not answer within its time limit, or its exchange was cancelled.
class ProcessError : public std::exception {
  public:
    enum class Kind { launchFailed, readFailed, timedOut, cancelled };
    ProcessError(Kind kind, std::string description) : kind_(kind), description_(std::move(description)) {}
    Kind kind() const { return kind_; }
    const char* what() const noexcept override { return description_.c_str(); }

  private:
    Kind kind_;
    std::string description_;
};

}  // namespace pindle
