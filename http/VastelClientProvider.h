#pragma once
#include <memory>

#include "http/APIEnvironment.h"
#include "http/VastelClient.h"

namespace vastel {

struct VastelClientProvider {
    // A VastelClientLive with a new URLSessionRequestSender: clients of separate calls share nothing.
    static std::shared_ptr<VastelClient> live(const APIEnvironment& environment);
};

}  // namespace vastel
