// tslUtil: static helpers shared across the plug-in.
#pragma once

#include <cstddef>
#include <cstdint>

class tslUtil {
  public:
    // Name lookups. Each returns a static text, never null; a code outside its
    // table gives "unknown".
    static const char *ActionName(int32_t code);
    static const char *TypeName(int32_t code);
    static const char *OperatorName(int32_t code);
    static const char *OutputName(int32_t code);
    static const char *LogicName(int32_t code);
    static const char *MethodTypeName(int32_t code);

    // The operator code of an "oper" value (exact, case-sensitive); EQUAL when
    // it names none of the eleven operators.
    static int32_t OperatorCode(const char *name);

    // Base64 (the standard alphabet, "*" read as "/"; other bytes skipped; the
    // text ends at its zero or its first "="). BinarySize gives the decoded size,
    // 0 for a null, empty or malformed text (a malformed one logs one trace line).
    // Decode writes exactly BinarySize(text) bytes to `out`, no terminating zero,
    // and returns 0; -1 when that size is 0 or `out` is null (nothing written).
    // Both take time linear in the text and allocate nothing.
    static std::size_t BinarySize(const char *text);
    static int32_t Decode(const char *text, unsigned char *out);
};
