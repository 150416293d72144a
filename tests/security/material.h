// Keys, credentials and signatures for the security tests, made once per
// program with the openssl command in a temporary directory.
#pragma once

#include <string>

namespace sec {

// The fixed expiry of the prepared credentials (and the test clock's start).
inline constexpr long kExpiry = 1700000000;

// The contents of a prepared file; the names are listed in material.cc.
std::string Material(const std::string &name);
std::string MaterialPath(const std::string &name);
// Runs a shell command; its standard output.
std::string Run(const std::string &command);

}  // namespace sec
