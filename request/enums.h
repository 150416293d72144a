// The codes that travel through requests, responses and traces, and their names.
#pragma once

#include <cstdint>

enum tslColumnType : int32_t {
    TYPE_UNKNOWN = 0,
    TYPE_BOOLEAN = 1,
    TYPE_STRING = 2,
    TYPE_CHAR16 = 3,
    TYPE_UINT8 = 4,
    TYPE_SINT8 = 5,
    TYPE_UINT16 = 6,
    TYPE_SINT16 = 7,
    TYPE_UINT32 = 8,
    TYPE_SINT32 = 9,
    TYPE_UINT64 = 10,
    TYPE_SINT64 = 11,
    TYPE_REAL32 = 12,
    TYPE_REAL64 = 13,
    TYPE_DATETIME = 14,
    TYPE_TIMESTAMP = 15,
    TYPE_ENUM = 16,
    TYPE_BITMASK = 17,
    TYPE_LAST = 18,
};

enum tslOutputKind : int32_t {
    OUTPUT_NOOUTPUT = 0,
    OUTPUT_ALL = 1,
    OUTPUT_COLUMNLIST = 2,
    OUTPUT_NORECORDS = 3,
};

enum tslOperator : int32_t {
    OPER_NOOPERATOR = 0,
    OPER_EQUAL = 1,
    OPER_NEQ = 2,
    OPER_LESS = 3,
    OPER_GREATER = 4,
    OPER_LEQ = 5,
    OPER_GREATEQ = 6,
    OPER_LIKE = 7,
    OPER_NOTLIKE = 8,
    OPER_WITHINSET = 9,
    OPER_NOTINSET = 10,
    OPER_UNIQUE = 11,
};
inline constexpr int32_t kOperatorCount = 12;

enum tslAction : int32_t {
    ACTION_NOACTION = 0,
    ACTION_SELECT = 1,
    ACTION_INSERT = 2,
    ACTION_DELETE = 3,
    ACTION_DESCRIBE = 4,
};

enum tslLogic : int32_t { LOGIC_NOLOGIC = 0, LOGIC_AND = 1, LOGIC_OR = 2 };

enum tslMethodType : int32_t {
    METHOD_NOMETHODTYPE = 0,
    METHOD_TESSELDISPLAY = 1,
    METHOD_TELNET = 2,
    METHOD_WEBACCESS = 3,
    METHOD_MSTAC = 4,
    METHOD_VNC = 5,
    METHOD_TESSELDISPLAY2 = 6,
};
