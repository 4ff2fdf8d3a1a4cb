#include "api/HalcyraError.h"

#include "http/VastelError.h"
#include "platform/qt/Localizable.h"

namespace halcyra {

std::string localizedDescription(std::exception_ptr error) {
    if (!error)
        return "Unknown error";
    try {
        std::rethrow_exception(error);
    } catch (const vastel::VastelError& e) {
        return e.errorDescription();
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "Unknown error";
    }
}

HalcyraError HalcyraError::backendError(int statusCode, std::vector<std::string> supportIds,
                                        std::string message, std::optional<std::string> faqUrl) {
    HalcyraError error(Kind::backendError);
    error.statusCode_ = statusCode;
    error.supportIds_ = std::move(supportIds);
    error.message_ = std::move(message);
    error.faqUrl_ = std::move(faqUrl);
    error.describe();
    return error;
}

HalcyraError HalcyraError::networkError(std::exception_ptr rawError) {
    HalcyraError error(Kind::networkError);
    error.rawError_ = std::move(rawError);
    error.describe();
    return error;
}

HalcyraError HalcyraError::otherError(std::string message) {
    HalcyraError error(Kind::otherError);
    error.message_ = std::move(message);
    error.describe();
    return error;
}

std::string HalcyraError::errorDescription() const {
    switch (kind_) {
        case Kind::backendError:
            return message_;
        case Kind::networkError:
            return L("Network error: %@.", localizedDescription(rawError_));
        case Kind::otherError:
            return L("Unexpected error: %@.", message_);
    }
    return message_;
}

void HalcyraError::describe() {
    // what() is fixed when the error is made; errorDescription() follows the current translation.
    what_ = errorDescription();
}

}  // namespace halcyra
