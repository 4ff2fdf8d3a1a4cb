#include "relay/token/Cancellation.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

namespace pellin {

Cancellation::Cancellation() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (fd_ < 0)
        throw std::system_error(errno, std::generic_category(), "eventfd");
}

Cancellation::~Cancellation() {
    ::close(fd_);
}

void Cancellation::cancel() {
    cancelled_ = true;
    std::uint64_t one = 1;
    // Nobody reads the counter, so it stays readable; a full counter is readable already.
    [[maybe_unused]] auto written = ::write(fd_, &one, sizeof one);
}

}  // namespace pellin
