// tslUtil: static helpers shared across the plug-in.
#pragma once

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
};
