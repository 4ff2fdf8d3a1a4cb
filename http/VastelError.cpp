#include "http/VastelError.h"

namespace vastel {

namespace {
std::string describe(std::exception_ptr error) {
    if (!error)
        return "Unknown error";
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "Unknown error";
    }
}
}  // namespace

VastelError::VastelError(Kind kind, std::exception_ptr underlying)
    : kind_(kind), underlying_(std::move(underlying)), description_(describe(underlying_)) {}

VastelError VastelError::networkError(std::exception_ptr error) {
    return VastelError(Kind::networkError, std::move(error));
}

VastelError VastelError::decodingError(std::exception_ptr error) {
    return VastelError(Kind::decodingError, std::move(error));
}

VastelError VastelError::unexpectedStatusCode(platform::Bytes body, URLResponse response) {
    VastelError error(Kind::unexpectedStatusCode, nullptr);
    error.description_ = "Unexpected HTTP status code " + std::to_string(response.statusCode());
    error.body_ = std::move(body);
    error.response_ = std::move(response);
    return error;
}

}  // namespace vastel
