// The tests read responses with Xerces-C themselves, independently of the
// plug-in's own (balanced) use of the library.
#include <gtest/gtest.h>

#include <xercesc/util/PlatformUtils.hpp>

namespace {

class XercesEnvironment : public ::testing::Environment {
  public:
    void SetUp() override { xercesc::XMLPlatformUtils::Initialize(); }
    void TearDown() override { xercesc::XMLPlatformUtils::Terminate(); }
};

const auto *const kEnvironment = ::testing::AddGlobalTestEnvironment(new XercesEnvironment);

}  // namespace
