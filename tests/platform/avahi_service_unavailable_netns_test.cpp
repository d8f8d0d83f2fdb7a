// Without a system bus the agent keeps going and the status carries the notice for the user.
#include <gtest/gtest.h>

#include "platform/linux/avahi_service_advertiser.h"
#include "tests/support/sandbox_fixture.h"
#include "tests/support/services.h"

namespace velopad {
namespace {

using testing::waitUntil;

bool unavailable(const AvahiServiceAdvertiser& advertiser) {
    return waitUntil([&] { return advertiser.status().state == AdvertisementState::unavailable; });
}

TEST(AvahiServiceUnavailableTest, ReportsTheNoticeAndStopsCleanly) {
    testing::Sandbox sandbox;
    // libdbus reads the address once per process: this binary never sees a real bus.
    sandbox.setEnv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + (sandbox.root() / "no-bus").string());
    std::vector<AdvertisementStatus> seen;
    std::mutex mutex;
    AvahiServiceAdvertiser advertiser([&](const AdvertisementStatus& status) {
        std::lock_guard lock(mutex);
        seen.push_back(status);
    });
    // Ends while its retry timer is pending.
    AvahiServiceAdvertiser abandoned;
    abandoned.start("Other", 9848);
    advertiser.start("Studio", 9847);

    ASSERT_TRUE(unavailable(advertiser));
    const auto status = advertiser.status();
    EXPECT_EQ(status.notice,
              "Avahi (DNS-SD) is not running: phones cannot find this computer until it is "
              "started.");
    EXPECT_EQ(status.serviceName, "Studio");
    EXPECT_FALSE(status.detail.empty());

    advertiser.start("Studio", 9848);  // a restart while unavailable
    ASSERT_TRUE(unavailable(advertiser));
    ASSERT_TRUE(unavailable(abandoned));
    advertiser.stop();
    EXPECT_EQ(advertiser.status(), AdvertisementStatus{});
    std::lock_guard lock(mutex);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back(), AdvertisementStatus{});
}

}  // namespace
}  // namespace velopad
