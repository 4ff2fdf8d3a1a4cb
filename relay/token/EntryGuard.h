#pragma once
// The one guard of the module's C boundary: an application that calls into the module must never see a C++
// exception, whatever goes wrong inside (it would unwind through C frames and end the application).
#include <p11-kit/pkcs11.h>

#include <new>

namespace pellin {

// The body's result, or the C error code of what it threw.
template <class Body>
CK_RV guarded(Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return CKR_HOST_MEMORY;
    } catch (...) {
        return CKR_GENERAL_ERROR;
    }
}

}  // namespace pellin
