#include "platform/linux/avahi_service_advertiser.h"

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/thread-watch.h>
#include <avahi-common/timeval.h>

#include "platform/linux/avahi_service_name.h"
#include "protocol/pairing_records.h"

namespace velopad {
namespace {

// How long to wait before trying again when no system bus could be reached.
constexpr unsigned reconnectDelayMs = 5000;
// Bound on renames after collisions, so a misbehaving network cannot keep us renaming forever.
constexpr int maxRenames = 100;

const std::string serviceType(HarborlinkService::bonjourServiceType);
const std::string serviceDomain(HarborlinkService::bonjourDomain);

}  // namespace

// One advertisement: Avahi's thread, its client and entry group. Everything but construction
// and destruction runs on Avahi's thread, with the poll's lock held.
struct AvahiServiceAdvertiser::Session {
    Session(AvahiServiceAdvertiser& owner, std::string name, std::uint16_t port)
        : owner(owner), name(std::move(name)), port(port) {}

    ~Session() {
        if (!poll) return;
        avahi_threaded_poll_stop(poll);         // joins the thread; callbacks have ended
        if (client) avahi_client_free(client);  // frees the entry group; the daemon withdraws it
        avahi_threaded_poll_free(poll);         // frees the timer
    }

    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    bool begin() {
        poll = avahi_threaded_poll_new();
        if (!poll) return false;
        api = avahi_threaded_poll_get(poll);
        timeval now{};
        avahi_elapse_time(&now, 0, 0);
        connectTimer = api->timeout_new(api, &now, &Session::onConnectTimer, this);
        return connectTimer && avahi_threaded_poll_start(poll) == 0;
    }

    void report(AdvertisementState state, std::string detail = {}) {
        AdvertisementStatus status{state, name, std::nullopt, std::move(detail)};
        if (state == AdvertisementState::unavailable) {
            status.notice = std::string(avahiNotRunningNotice);
        } else if (state == AdvertisementState::failed) {
            status.notice = std::string(avahiRefusedNotice);
        }
        owner.publish(std::move(status));
    }

    void scheduleConnect(unsigned delayMs) {
        timeval when{};
        avahi_elapse_time(&when, delayMs, 0);
        api->timeout_update(connectTimer, &when);
    }

    // (Re)creates the client. With AVAHI_CLIENT_NO_FAIL it waits for a daemon that is not running
    // yet; only a missing system bus makes the creation itself fail.
    void connect() {
        if (client) {
            avahi_client_free(client);
            client = nullptr;
        }
        group = nullptr;
        int error = AVAHI_OK;
        // Callbacks may run before this returns: they use the client they are given.
        client = avahi_client_new(api, AVAHI_CLIENT_NO_FAIL, &Session::onClientState, this, &error);
        if (!client) {
            group = nullptr;
            report(AdvertisementState::unavailable, avahi_strerror(error));
            scheduleConnect(reconnectDelayMs);
        }
    }

    void clientChanged(AvahiClient* changed, AvahiClientState state) {
        switch (state) {
            case AVAHI_CLIENT_S_RUNNING:
                addService(changed);
                break;
            case AVAHI_CLIENT_S_COLLISION:
            case AVAHI_CLIENT_S_REGISTERING:
                // The daemon is (re)naming the host; our records go back in once it runs again.
                if (group) avahi_entry_group_reset(group);
                report(AdvertisementState::registering);
                break;
            case AVAHI_CLIENT_CONNECTING:
                report(AdvertisementState::unavailable, avahi_strerror(AVAHI_ERR_NO_DAEMON));
                break;
            case AVAHI_CLIENT_FAILURE: {
                // The daemon or the bus went away. A new client waits for the daemon to return.
                const int error = avahi_client_errno(changed);
                report(AdvertisementState::unavailable, avahi_strerror(error));
                scheduleConnect(error == AVAHI_ERR_DISCONNECTED ? 0 : reconnectDelayMs);
                break;
            }
        }
    }

    void addService(AvahiClient* owningClient) {
        if (!group) {
            group = avahi_entry_group_new(owningClient, &Session::onGroupState, this);
            if (!group) {
                report(AdvertisementState::failed,
                       avahi_strerror(avahi_client_errno(owningClient)));
                return;
            }
        }
        if (!avahi_entry_group_is_empty(group)) return;
        int result = AVAHI_OK;
        do {
            // No TXT record: the argument list ends at once.
            result = avahi_entry_group_add_service(
                group, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, AvahiPublishFlags{}, name.c_str(),
                serviceType.c_str(), serviceDomain.c_str(), nullptr, port, nullptr);
        } while (result == AVAHI_ERR_COLLISION && rename());
        if (result >= 0) result = avahi_entry_group_commit(group);
        if (result < 0) {
            report(AdvertisementState::failed, avahi_strerror(result));
            return;
        }
        report(AdvertisementState::registering);
    }

    void groupChanged(AvahiEntryGroup* changed, AvahiEntryGroupState state) {
        switch (state) {
            case AVAHI_ENTRY_GROUP_ESTABLISHED:
                report(AdvertisementState::registered);
                break;
            case AVAHI_ENTRY_GROUP_COLLISION:
                // Someone on the network has the name: take Avahi's alternative and try again.
                if (!rename()) {
                    report(AdvertisementState::failed, avahi_strerror(AVAHI_ERR_COLLISION));
                    break;
                }
                avahi_entry_group_reset(changed);
                addService(avahi_entry_group_get_client(changed));
                break;
            case AVAHI_ENTRY_GROUP_FAILURE:
                report(AdvertisementState::failed,
                       avahi_strerror(avahi_client_errno(avahi_entry_group_get_client(changed))));
                break;
            case AVAHI_ENTRY_GROUP_UNCOMMITED:
            case AVAHI_ENTRY_GROUP_REGISTERING:
                break;
        }
    }

    bool rename() {
        if (++renames > maxRenames) return false;
        char* alternative = avahi_alternative_service_name(name.c_str());
        if (!alternative) return false;
        name = alternative;
        avahi_free(alternative);
        return true;
    }

    static void onConnectTimer(AvahiTimeout*, void* self) {
        static_cast<Session*>(self)->connect();
    }
    static void onClientState(AvahiClient* client, AvahiClientState state, void* self) {
        static_cast<Session*>(self)->clientChanged(client, state);
    }
    static void onGroupState(AvahiEntryGroup* group, AvahiEntryGroupState state, void* self) {
        static_cast<Session*>(self)->groupChanged(group, state);
    }

    AvahiServiceAdvertiser& owner;
    std::string name;
    std::uint16_t port;
    int renames = 0;
    AvahiThreadedPoll* poll = nullptr;
    const AvahiPoll* api = nullptr;
    AvahiTimeout* connectTimer = nullptr;
    AvahiClient* client = nullptr;
    AvahiEntryGroup* group = nullptr;
};

AvahiServiceAdvertiser::AvahiServiceAdvertiser(StatusCallback onStatus)
    : onStatus_(std::move(onStatus)) {}

AvahiServiceAdvertiser::~AvahiServiceAdvertiser() { session_.reset(); }

void AvahiServiceAdvertiser::start(std::string_view name, std::uint16_t port) {
    stop();
    auto session = std::make_unique<Session>(*this, dnsSdServiceName(name), port);
    session->report(AdvertisementState::registering);
    if (!session->begin()) {
        session.reset();
        publish({AdvertisementState::failed, dnsSdServiceName(name),
                 std::string(avahiRefusedNotice), "Avahi's thread could not be started"});
        return;
    }
    session_ = std::move(session);
}

void AvahiServiceAdvertiser::stop() {
    session_.reset();
    publish({});
}

AdvertisementStatus AvahiServiceAdvertiser::status() const {
    std::lock_guard lock(statusMutex_);
    return status_;
}

void AvahiServiceAdvertiser::publish(AdvertisementStatus next) {
    {
        std::lock_guard lock(statusMutex_);
        if (status_ == next) return;
        status_ = next;
    }
    if (onStatus_) onStatus_(next);
}

}  // namespace velopad
