// Xerces-C for a whole test program that reads XML itself, balanced with the
// plug-in library's own Terminate (which also releases the pooled readers).
// Include it from any source of the program: the inline variable registers
// the environment once.
#pragma once

#include <gtest/gtest.h>

#include <xercesc/util/PlatformUtils.hpp>

#include "request/xerces_library.h"

namespace testsupport {

class XercesEnvironment : public ::testing::Environment {
  public:
    void SetUp() override { xercesc::XMLPlatformUtils::Initialize(); }
    void TearDown() override { xerces_library::Terminate(); }
};

inline ::testing::Environment *const g_xercesEnvironment =
    ::testing::AddGlobalTestEnvironment(new XercesEnvironment);  // gtest owns it

}  // namespace testsupport
