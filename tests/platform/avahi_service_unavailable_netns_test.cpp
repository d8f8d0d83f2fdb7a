// Without a system bus the agent keeps going and the status carries the notice for the user.
#include <gtest/gtest.h>

#include "platform/linux/avahi_service_advertiser.h"
#include "tests/support/services.h"

namespace velopad {
namespace {

bool unavailable(const AvahiServiceAdvertiser& advertiser) {
    return testing::waitUntil(
        [&] { return advertiser.status().state == AdvertisementState::unavailable; });
}

// The fixture points the system bus at nothing; libdbus reads the address once per process.
using AvahiServiceUnavailableTest = testing::SandboxTest;

TEST_F(AvahiServiceUnavailableTest, ReportsTheNoticeAndStopsCleanly) {
    AvahiServiceAdvertiser advertiser;
    AvahiServiceAdvertiser abandoned;  // ends while its retry timer is pending
    abandoned.start("Other", 9848);
    advertiser.start("Studio", 9847);

    ASSERT_TRUE(unavailable(advertiser));
    EXPECT_EQ(advertiser.status().notice,
              "Avahi (DNS-SD) is not running: phones cannot find this computer until it is "
              "started.");
    EXPECT_EQ(advertiser.status().serviceName, "Studio");

    advertiser.start("Studio", 9848);  // a restart while unavailable
    ASSERT_TRUE(unavailable(advertiser));
    ASSERT_TRUE(unavailable(abandoned));
    advertiser.stop();
    EXPECT_EQ(advertiser.status(), AdvertisementStatus{});
}

}  // namespace
}  // namespace velopad
