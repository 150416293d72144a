// Texts crossing the backup server library: UTF-16 there, UTF-8 in tables.
#pragma once

#include <string>
#include <string_view>

// The whole text as UTF-8; an unpaired surrogate becomes U+FFFD.
std::string Narrow(std::u16string_view wide);
// The same, replacing what `out` held (and reusing its room).
void NarrowInto(std::string &out, std::u16string_view wide);

// The whole text as UTF-16; each byte that starts no well-formed UTF-8
// sequence becomes U+FFFD.
std::u16string Wide(std::string_view narrow);

// Equal when they differ at most in the case of ASCII letters.
bool EqualIgnoringAsciiCase(std::u16string_view a, std::u16string_view b);
