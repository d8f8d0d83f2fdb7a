// Runs inside a private network namespace (scripts/in-private-netns): a real avahi-daemon on
// loopback and a private system bus; the advertisement is checked with avahi-browse.
#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <vector>

#include "platform/linux/avahi_service_advertiser.h"
#include "tests/support/services.h"

namespace velopad {
namespace {

using testing::AvahiTestServices;
using testing::BrowsedService;
using testing::waitUntil;

bool reaches(const AvahiServiceAdvertiser& advertiser, AdvertisementState state) {
    return waitUntil([&] { return advertiser.status().state == state; });
}

class AvahiServiceAdvertiserTest : public ::testing::Test {
  protected:
    // One bus and daemon for the suite (mDNS probing is slow); every test has names of its own.
    static void SetUpTestSuite() {
        if (testing::onlyLoopbackInterfaces() && getuid() == 0) services = new AvahiTestServices();
    }
    static void TearDownTestSuite() {
        delete services;
        services = nullptr;
    }
    void SetUp() override {
        if (!services)
            GTEST_SKIP() << "needs root in a private network namespace (scripts/in-private-netns)";
        services->startDaemon();
    }

    // The services of the test type that avahi-browse resolves now, among `names`.
    static std::vector<BrowsedService> browse(const std::vector<std::string>& names) {
        auto found = services->browse();
        std::erase_if(found, [&](const BrowsedService& service) {
            return std::find(names.begin(), names.end(), service.name) == names.end();
        });
        return found;
    }

    static inline AvahiTestServices* services = nullptr;
};

TEST_F(AvahiServiceAdvertiserTest, AdvertisesNameTypeAndPortWithoutTxtUntilStopped) {
    std::mutex mutex;
    std::vector<AdvertisementStatus> statuses;
    AvahiServiceAdvertiser advertiser([&](const AdvertisementStatus& status) {
        std::lock_guard lock(mutex);
        statuses.push_back(status);
    });
    advertiser.start("Velopad Test Mac", 9847);

    ASSERT_TRUE(reaches(advertiser, AdvertisementState::registered));
    EXPECT_EQ(advertiser.status().serviceName, "Velopad Test Mac");
    EXPECT_EQ(
        browse({"Velopad Test Mac"}),
        (std::vector<BrowsedService>{{"Velopad Test Mac", "_harborlink._tcp", "local", 9847, ""}}));

    advertiser.stop();
    EXPECT_EQ(advertiser.status(), AdvertisementStatus{});
    EXPECT_TRUE(waitUntil([&] { return browse({"Velopad Test Mac"}).empty(); }));

    std::lock_guard lock(mutex);
    ASSERT_GE(statuses.size(), 3u);
    EXPECT_EQ(statuses.front().state, AdvertisementState::registering);
    EXPECT_EQ(statuses.back(), AdvertisementStatus{});
    for (std::size_t i = 1; i < statuses.size(); ++i) EXPECT_NE(statuses[i], statuses[i - 1]);
}

TEST_F(AvahiServiceAdvertiserTest, ATakenNameBecomesAvahisAlternativeAndALongOneIsCutToOneLabel) {
    AvahiServiceAdvertiser first, second, longer;
    first.start("Studio", 9847);
    ASSERT_TRUE(reaches(first, AdvertisementState::registered));
    second.start("Studio", 9848);
    longer.start("Jürgen's " + std::string(100, 'x'), 9847);
    ASSERT_TRUE(reaches(second, AdvertisementState::registered));
    ASSERT_TRUE(reaches(longer, AdvertisementState::registered)) << longer.status().detail;

    EXPECT_EQ(second.status().serviceName, "Studio #2");
    EXPECT_EQ(longer.status().serviceName, "Jürgen's " + std::string(53, 'x'));  // 63 bytes
    EXPECT_EQ(browse({"Studio", "Studio #2"}),
              (std::vector<BrowsedService>{{"Studio", "_harborlink._tcp", "local", 9847, ""},
                                           {"Studio #2", "_harborlink._tcp", "local", 9848, ""}}));
}

TEST_F(AvahiServiceAdvertiserTest, WaitsForTheDaemonAndRegistersAgainWhenItReturns) {
    services->stopDaemon();
    AvahiServiceAdvertiser advertiser;
    advertiser.start("Late Daemon", 9847);
    {
        AvahiServiceAdvertiser abandoned;  // ends while its retry timer is pending
        abandoned.start("Other", 9848);
        ASSERT_TRUE(reaches(abandoned, AdvertisementState::unavailable));
    }
    advertiser.start("Late Daemon", 9847);  // a restart while unavailable
    ASSERT_TRUE(reaches(advertiser, AdvertisementState::unavailable));
    EXPECT_EQ(advertiser.status().notice,
              "Avahi (DNS-SD) is not running: phones cannot find this computer until it is "
              "started.");

    services->startDaemon();
    ASSERT_TRUE(reaches(advertiser, AdvertisementState::registered));
    EXPECT_EQ(advertiser.status().notice, std::nullopt);
    services->stopDaemon();
    ASSERT_TRUE(reaches(advertiser, AdvertisementState::unavailable));
    services->startDaemon();
    ASSERT_TRUE(reaches(advertiser, AdvertisementState::registered));
    EXPECT_EQ(advertiser.status().serviceName, "Late Daemon");
}

}  // namespace
}  // namespace velopad
