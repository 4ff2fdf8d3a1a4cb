#include "http/VastelClientProvider.h"

#include "http/URLSessionRequestSender.h"
#include "http/VastelClientLive.h"

namespace vastel {

std::shared_ptr<VastelClient> VastelClientProvider::live(const APIEnvironment& environment) {
    return std::make_shared<VastelClientLive>(environment,
                                              std::make_shared<URLSessionRequestSender>(environment));
}

}  // namespace vastel
