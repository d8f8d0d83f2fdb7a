#pragma once
// Advertises the agent over DNS-SD ("_harborlink._tcp" in "local.", no TXT record) through the
// Avahi daemon. Avahi runs on its own thread, so nothing here blocks the caller's event loop for
// long: start and stop only start and join that thread.
//
// Without a daemon (or a system bus) the agent keeps serving: the status says so with a notice
// for the user, and the advertiser keeps waiting, picking the daemon up when it starts or comes
// back. A name already taken on the network is replaced by Avahi's alternative ("Name #2", …).

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace velopad {

// Shown to the user while no Avahi daemon answers; cleared once one does.
inline constexpr std::string_view avahiNotRunningNotice =
    "Avahi (DNS-SD) is not running: phones cannot find this computer until it is started.";
// Shown when the daemon runs but refused the advertisement.
inline constexpr std::string_view avahiRefusedNotice =
    "Avahi (DNS-SD) could not advertise this computer: phones cannot find it.";

enum class AdvertisementState {
    stopped,      // not started, or stopped
    registering,  // handed to the daemon, not yet established (also while renaming)
    registered,   // established under `serviceName`
    unavailable,  // no daemon or no system bus; waiting for one
    failed,       // the daemon refused the registration; stays so until the next start
};

struct AdvertisementStatus {
    AdvertisementState state = AdvertisementState::stopped;
    std::string serviceName;            // the name in use (after any collision renaming)
    std::optional<std::string> notice;  // set while unavailable or failed
    std::string detail;                 // Avahi's description of the last problem, for traces

    friend bool operator==(const AdvertisementStatus&, const AdvertisementStatus&) = default;
};

class AvahiServiceAdvertiser {
  public:
    // Called with each new status (never twice with an equal one), from Avahi's thread or from
    // the thread calling start/stop. It must only hand the status on (post it to the owner's
    // executor) and must not call start or stop.
    using StatusCallback = std::function<void(const AdvertisementStatus&)>;

    explicit AvahiServiceAdvertiser(StatusCallback onStatus = {});
    ~AvahiServiceAdvertiser();  // stops
    AvahiServiceAdvertiser(const AvahiServiceAdvertiser&) = delete;
    AvahiServiceAdvertiser& operator=(const AvahiServiceAdvertiser&) = delete;

    // Advertises `name` (fitted by dnsSdServiceName) on `port`, replacing any earlier
    // advertisement of this object.
    void start(std::string_view name, std::uint16_t port);

    // Withdraws the advertisement. Blocks until Avahi's thread has ended.
    void stop();

    [[nodiscard]] AdvertisementStatus status() const;

  private:
    struct Session;

    void publish(AdvertisementStatus next);

    StatusCallback onStatus_;
    mutable std::mutex statusMutex_;
    AdvertisementStatus status_;
    std::unique_ptr<Session> session_;
};

}  // namespace velopad
