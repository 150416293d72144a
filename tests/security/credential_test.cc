// The trust list read by credential checks while refreshes grow it: each
// check sees a whole list, a key is listed once, an unclosed value not at all.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "base/clock.h"
#include "material.h"
#include "request/xerces_library.h"
#include "security/trust_store.h"

namespace {

// The request reader needs Xerces, which a plug-in object holds only while it
// lives; whichever test runs first, this program holds it throughout.
struct XercesHeld : ::testing::Environment {
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(xerces_library::Initialize(error)) << error;
    }
    void TearDown() override { xerces_library::Terminate(); }
};
[[maybe_unused]] ::testing::Environment *const g_xerces =
    ::testing::AddGlobalTestEnvironment(new XercesHeld);  // gtest owns it

std::string Val(const std::string &value) {
    return "<REC><VAL>" + value + "</VAL></REC>\n";
}

TEST(Credentials, ChecksWhileTheTrustListGrows) {
    const std::string issuer = sec::Material("issuer.pub"), other = Val(sec::Material("other.pub"));
    TslSetClock([] { return std::time_t{sec::kExpiry}; });
    tslSecurity::TrustStore store;
    store.Absorb(Val(issuer) + "<VAL>" + sec::Material("other.pub"));
    EXPECT_EQ(*store.Snapshot(), (tslSecurity::TrustList{issuer}));
    std::atomic<int> accepted{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 2; ++t)
        readers.emplace_back([&] {
            for (int i = 0; i < 20; ++i) {
                tslString credentials(sec::Material("valid.cred"));
                std::optional<std::string> key;
                accepted += tslSecurity::ValidateCredential(credentials, *store.Snapshot(), key) &&
                            key && credentials.str().rfind("f1:f2:", 0) == 0;
            }
        });
    for (int i = 0; i < 100; ++i)
        store.Absorb(other + Val(issuer) + Val("k" + std::to_string(i % 50) + "="));
    for (std::thread &reader : readers) reader.join();
    TslSetClock(nullptr);
    EXPECT_EQ(accepted, 40);
    EXPECT_EQ(store.Snapshot()->size(), 52u);
    EXPECT_TRUE(store.HasPublicKey());
}

}  // namespace
