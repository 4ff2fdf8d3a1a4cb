#include "cardbridge/VexoConnectError.h"

namespace pindle {

VexoConnectError::VexoConnectError(Case kind)
    : case_(kind),
      description_("The operation couldn\u2019t be completed. (Pindle.VexoConnectError error " +
                   std::to_string(static_cast<int>(kind)) + ".)") {}

VexoConnectError VexoConnectError::decodingFailed(std::string decodingError, std::string replyText) {
    VexoConnectError error(Case::decodingFailed);
    error.decodingError_ = std::move(decodingError);
    error.replyText_ = std::move(replyText);
    return error;
}

VexoConnectError VexoConnectError::errorResponse(std::string result, std::optional<std::string> resultRaw) {
    VexoConnectError error(Case::errorResponse);
    error.result_ = std::move(result);
    error.resultRaw_ = std::move(resultRaw);
    return error;
}

}  // namespace pindle
