#pragma once
// A client identity imported from a PKCS#12 container, for APIEnvironment::clientCertificate. Construction
// (PKCS12::make) yields nothing on a wrong password, damaged bytes or an empty import; a container without a
// key and certificate pair imports with no identity.
#include "platform/PKCS12.h"

namespace vastel {

using PKCS12 = platform::PKCS12;

}  // namespace vastel
