// Start-up settings shared by the subcommands: where the plug-in and its
// configuration come from, the listen address.
#pragma once

#include <cstdint>
#include <string>

namespace korvane {

// libNorloTessel.so next to this program (a build tree), else in the library
// directory of the prefix this program is installed in, else in the
// configured installation library directory.
std::string DefaultPluginPath();

// The configuration text from `path` ("" for none: the plug-in then runs on
// its defaults). False with `error` set when the file cannot be read.
bool LoadConfigText(const std::string &path, std::string &text, std::string &error);

// `config` with a <Raw>true</Raw> entry added inside its Tessel element (or a
// minimal configuration holding only that entry when `config` is empty).
std::string WithRawMode(const std::string &config);

// "HOST:PORT" (IPv6 as "[::1]:PORT"); port 0 asks the system for a free one.
bool ParseListen(const std::string &text, std::string &host, uint16_t &port, std::string &error);

}  // namespace korvane
