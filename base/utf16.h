// UTF-16 text, as the XML reader delivers it, into the UTF-8 bytes every
// stored text holds.
#pragma once

#include <cstddef>
#include <string>

// Code units up to the terminating zero; 0 for null.
std::size_t Utf16Length(const char16_t *utf16);

// Appends `units` code units as UTF-8, never cut short; an unpaired surrogate
// becomes U+FFFD.
void AppendUtf8FromUtf16(std::string &out, const char16_t *utf16, std::size_t units);
