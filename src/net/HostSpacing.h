// Spacing of requests per host, kept for the whole process: services limit
// clients by address, not by connection, so every client and thread that asks
// one host shares its pace.
#pragma once

#include <string>

namespace veldra {

// Takes the next start time for a request to `host`, at least `spacingMs`
// after the start taken before it, and gives how many milliseconds the caller
// has to wait for it (0: at once). Thread-safe; the caller waits unlocked.
long long reserveHostStart(const std::string& host, long long spacingMs);

}  // namespace veldra
