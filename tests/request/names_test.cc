#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "request/enums.h"
#include "request/tsl_util.h"

namespace {

std::vector<std::string> Names(const char *(*lookup)(int32_t), int32_t count) {
    std::vector<std::string> names;
    for (int32_t code = 0; code < count; ++code) names.emplace_back(lookup(code));
    return names;
}

TEST(NameLookups, EveryTableInOrder) {
    EXPECT_EQ(Names(&tslUtil::TypeName, 19),
              (std::vector<std::string>{"unknown", "boolean", "string", "char16", "uint8", "sint8",
                                        "uint16", "sint16", "uint32", "sint32", "uint64", "sint64",
                                        "real32", "real64", "datetime", "timestamp", "enum",
                                        "bitmask", "last"}));
    EXPECT_EQ(Names(&tslUtil::OutputName, 4),
              (std::vector<std::string>{"nooutput", "all", "columnlist", "norecords"}));
    EXPECT_EQ(
        Names(&tslUtil::OperatorName, 12),
        (std::vector<std::string>{"nooperator", "EQUAL", "NEQ", "LESS", "GREATER", "LEQ", "GREATEQ",
                                  "LIKE", "NOTLIKE", "WITHINSET", "NOTINSET", "UNIQUE"}));
    EXPECT_EQ(Names(&tslUtil::ActionName, 5),
              (std::vector<std::string>{"noaction", "select", "insert", "delete", "describe"}));
    EXPECT_EQ(Names(&tslUtil::LogicName, 3), (std::vector<std::string>{"nologic", "AND", "OR"}));
    EXPECT_EQ(Names(&tslUtil::MethodTypeName, 7),
              (std::vector<std::string>{
                  "nomethodtype", "TesselDisplay", "com.vkn.portal.smp.component.Telnet",
                  "com.vkn.portal.smp.component.WebAccess", "com.vkn.portal.smp.component.mstac",
                  "com.vkn.portal.smp.component.Vnc", "TesselDisplay"}));
    // The enumerators carry the codes of the tables.
    EXPECT_STREQ(tslUtil::TypeName(TYPE_TIMESTAMP), "timestamp");
    EXPECT_STREQ(tslUtil::OperatorName(OPER_WITHINSET), "WITHINSET");
    EXPECT_STREQ(tslUtil::OutputName(OUTPUT_COLUMNLIST), "columnlist");
    EXPECT_STREQ(tslUtil::ActionName(ACTION_DESCRIBE), "describe");
    EXPECT_STREQ(tslUtil::LogicName(LOGIC_OR), "OR");
    EXPECT_STREQ(tslUtil::MethodTypeName(METHOD_VNC), "com.vkn.portal.smp.component.Vnc");
}

TEST(NameLookups, CodesOutsideTheTablesNeverCrash) {
    EXPECT_STREQ(tslUtil::TypeName(19), "unknown");
    EXPECT_STREQ(tslUtil::TypeName(200), "unknown");
    EXPECT_STREQ(tslUtil::TypeName(18), "last");
    EXPECT_STREQ(tslUtil::TypeName(-1), "unknown");
    for (auto lookup : {&tslUtil::ActionName, &tslUtil::OperatorName, &tslUtil::OutputName,
                        &tslUtil::LogicName, &tslUtil::MethodTypeName}) {
        ASSERT_NE(lookup(-5), nullptr);
        ASSERT_NE(lookup(1000), nullptr);
        ASSERT_NE(lookup(INT32_MIN), nullptr);
    }
}

TEST(NameLookups, OperatorCodeIsExactWithEqualAsFallback) {
    const char *const names[] = {"EQUAL", "NEQ",     "LESS",      "GREATER",  "LEQ",   "GREATEQ",
                                 "LIKE",  "NOTLIKE", "WITHINSET", "NOTINSET", "UNIQUE"};
    int32_t code = OPER_EQUAL;
    for (const char *name : names) EXPECT_EQ(tslUtil::OperatorCode(name), code++) << name;
    EXPECT_EQ(tslUtil::OperatorCode("Like"), OPER_EQUAL);
    EXPECT_EQ(tslUtil::OperatorCode("like"), OPER_EQUAL);
    EXPECT_EQ(tslUtil::OperatorCode("nooperator"), OPER_EQUAL);
    EXPECT_EQ(tslUtil::OperatorCode(""), OPER_EQUAL);
    EXPECT_EQ(tslUtil::OperatorCode("LIKE "), OPER_EQUAL);
    EXPECT_EQ(tslUtil::OperatorCode(nullptr), OPER_EQUAL);
}

}  // namespace
