#pragma once
// A plain Unix stream socket, for tests that play a peer byte by byte.
#include <filesystem>

namespace testsupport {

// A socket connected to the listener at the path (blocking, close-on-exec), or -1 when none takes it.
int connectRawSocket(const std::filesystem::path& path);

}  // namespace testsupport
