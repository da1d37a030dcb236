// Spacing of requests per host, kept for the whole process: services limit
// clients by address, not by connection, so every client and thread that asks
// one host shares its pace.
#pragma once

#include <string>

namespace veldra {

// Gives 0 and records the start when a request to `host` may start now (at
// least `spacingMs` after the last recorded start), else how many milliseconds
// to wait before asking again. Recording the start only when it happens keeps
// the spacing true however late a waiting thread wakes. Thread-safe.
long long tryStartHostRequest(const std::string& host, long long spacingMs);

}  // namespace veldra
