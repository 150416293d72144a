#include <cstring>

#include "request/enums.h"
#include "request/tsl_util.h"

namespace {

const char *const kTypeNames[] = {"unknown",   "boolean", "string",  "char16", "uint8",
                                  "sint8",     "uint16",  "sint16",  "uint32", "sint32",
                                  "uint64",    "sint64",  "real32",  "real64", "datetime",
                                  "timestamp", "enum",    "bitmask", "last"};
const char *const kOutputNames[] = {"nooutput", "all", "columnlist", "norecords"};
const char *const kOperatorNames[] = {"nooperator", "EQUAL",     "NEQ",      "LESS",
                                      "GREATER",    "LEQ",       "GREATEQ",  "LIKE",
                                      "NOTLIKE",    "WITHINSET", "NOTINSET", "UNIQUE"};
const char *const kActionNames[] = {"noaction", "select", "insert", "delete", "describe"};
const char *const kLogicNames[] = {"nologic", "AND", "OR"};
const char *const kMethodTypeNames[] = {"nomethodtype",
                                        "TesselDisplay",
                                        "com.vkn.portal.smp.component.Telnet",
                                        "com.vkn.portal.smp.component.WebAccess",
                                        "com.vkn.portal.smp.component.mstac",
                                        "com.vkn.portal.smp.component.Vnc",
                                        "TesselDisplay"};

template <std::size_t N>
const char *Lookup(const char *const (&table)[N], int32_t code) {
    if (code < 0 || static_cast<std::size_t>(code) >= N) return "unknown";
    return table[code];
}

}  // namespace

const char *tslUtil::ActionName(int32_t code) {
    return Lookup(kActionNames, code);
}
const char *tslUtil::TypeName(int32_t code) {
    return Lookup(kTypeNames, code);
}
const char *tslUtil::OperatorName(int32_t code) {
    return Lookup(kOperatorNames, code);
}
const char *tslUtil::OutputName(int32_t code) {
    return Lookup(kOutputNames, code);
}
const char *tslUtil::LogicName(int32_t code) {
    return Lookup(kLogicNames, code);
}
const char *tslUtil::MethodTypeName(int32_t code) {
    return Lookup(kMethodTypeNames, code);
}

int32_t tslUtil::OperatorCode(const char *name) {
    if (name != nullptr)
        for (int32_t code = OPER_EQUAL; code < kOperatorCount; ++code)
            if (std::strcmp(name, kOperatorNames[code]) == 0) return code;
    return OPER_EQUAL;
}
