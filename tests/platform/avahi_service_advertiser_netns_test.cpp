// Runs inside a private network namespace (scripts/in-private-netns): a real avahi-daemon on
// loopback and a private system bus; the advertisement is checked with avahi-browse.
#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <vector>

#include "platform/linux/avahi_service_advertiser.h"
#include "tests/support/avahi_test_services.h"

namespace velopad {
namespace {

using testing::AvahiTestServices;
using testing::BrowsedService;
using testing::waitUntil;

// Every status the advertiser reported, in order.
class StatusLog {
  public:
    AvahiServiceAdvertiser::StatusCallback callback() {
        return [this](const AdvertisementStatus& status) {
            std::lock_guard lock(mutex_);
            statuses_.push_back(status);
        };
    }
    std::vector<AdvertisementStatus> statuses() const {
        std::lock_guard lock(mutex_);
        return statuses_;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<AdvertisementStatus> statuses_;
};

bool reaches(const AvahiServiceAdvertiser& advertiser, AdvertisementState state) {
    return waitUntil([&] { return advertiser.status().state == state; });
}

class AvahiServiceAdvertiserTest : public ::testing::Test {
  protected:
    // One bus and daemon for the suite (each start costs about a second of mDNS probing); every
    // test uses names of its own.
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
    StatusLog log;
    AvahiServiceAdvertiser advertiser(log.callback());
    advertiser.start("Velopad Test Mac", 9847);

    ASSERT_TRUE(reaches(advertiser, AdvertisementState::registered));
    EXPECT_EQ(advertiser.status().serviceName, "Velopad Test Mac");
    EXPECT_EQ(advertiser.status().notice, std::nullopt);
    const std::vector<BrowsedService> expected = {
        {"Velopad Test Mac", "_harborlink._tcp", "local", 9847, ""}};
    EXPECT_EQ(browse({"Velopad Test Mac"}), expected);

    advertiser.stop();
    EXPECT_EQ(advertiser.status(), AdvertisementStatus{});
    EXPECT_TRUE(waitUntil([&] { return browse({"Velopad Test Mac"}).empty(); }));

    const auto statuses = log.statuses();
    ASSERT_GE(statuses.size(), 3u);
    EXPECT_EQ(statuses.front().state, AdvertisementState::registering);
    EXPECT_EQ(statuses.back(), AdvertisementStatus{});
    for (std::size_t i = 1; i < statuses.size(); ++i) EXPECT_NE(statuses[i], statuses[i - 1]);
}

TEST_F(AvahiServiceAdvertiserTest, ATakenNameIsReplacedByAvahisAlternative) {
    AvahiServiceAdvertiser first;
    AvahiServiceAdvertiser second;
    first.start("Studio", 9847);
    ASSERT_TRUE(reaches(first, AdvertisementState::registered));
    second.start("Studio", 9848);
    ASSERT_TRUE(reaches(second, AdvertisementState::registered));

    EXPECT_EQ(first.status().serviceName, "Studio");
    EXPECT_EQ(second.status().serviceName, "Studio #2");
    const std::vector<BrowsedService> expected = {
        {"Studio", "_harborlink._tcp", "local", 9847, ""},
        {"Studio #2", "_harborlink._tcp", "local", 9848, ""}};
    EXPECT_EQ(browse({"Studio", "Studio #2"}), expected);
}

TEST_F(AvahiServiceAdvertiserTest, WaitsForTheDaemonAndRegistersAgainWhenItReturns) {
    services->stopDaemon();
    AvahiServiceAdvertiser advertiser;
    advertiser.start("Late Daemon", 9847);

    ASSERT_TRUE(reaches(advertiser, AdvertisementState::unavailable));
    EXPECT_EQ(advertiser.status().notice,
              "Avahi (DNS-SD) is not running: phones cannot find this computer until it is "
              "started.");
    EXPECT_EQ(advertiser.status().serviceName, "Late Daemon");

    services->startDaemon();
    ASSERT_TRUE(reaches(advertiser, AdvertisementState::registered));
    EXPECT_EQ(advertiser.status().notice, std::nullopt);

    services->stopDaemon();
    ASSERT_TRUE(reaches(advertiser, AdvertisementState::unavailable));
    services->startDaemon();
    ASSERT_TRUE(reaches(advertiser, AdvertisementState::registered));
    EXPECT_EQ(advertiser.status().serviceName, "Late Daemon");
}

TEST_F(AvahiServiceAdvertiserTest, AdvertisesAVeryLongNameCutToOneLabel) {
    const std::string longName = "Jürgen's " + std::string(100, 'x');
    AvahiServiceAdvertiser advertiser;
    advertiser.start(longName, 9847);

    ASSERT_TRUE(reaches(advertiser, AdvertisementState::registered)) << advertiser.status().detail;
    const std::string advertised = "Jürgen's " + std::string(53, 'x');  // 63 bytes
    EXPECT_EQ(advertiser.status().serviceName, advertised);
}

}  // namespace
}  // namespace velopad
