#include "app/agent_view_model.h"

#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <thread>

#include "app/listener/request_router.h"
#include "app/pairing/in_memory_paired_device_store.h"
#include "protocol/message_factory.h"
#include "tests/support/child_process.h"
#include "tests/support/fake_executors.h"
#include "tests/support/io_thread.h"

namespace velopad::test {
namespace {

using namespace std::chrono_literals;

class AgentViewModelTest : public ::testing::Test {
  protected:
    void SetUp() override { build(0); }

    void build(std::uint16_t port, std::chrono::milliseconds cooldown = 5000ms,
               std::chrono::milliseconds retryDelay = 10ms, bool named = true) {
        ListenerOptions listenerOptions;
        listenerOptions.port = port;
        listenerOptions.portConflictRetryDelay = retryDelay;
        listener = ListenerService::create(io.executor(), router, listenerOptions);
        AgentViewModelOptions options;
        if (named) options.computerName = [] { return std::string("Studio Desk"); };
        options.refreshPeriod = 3600s;  // the test drives refresh itself
        options.recoveryCooldown = cooldown;
        viewModel = AgentViewModel::create(io.executor(), pairing, *listener, options);
    }
    void TearDown() override {
        viewModel->stop();
        io.run(listener->shutdown());
        io.drain();
    }

    AgentViewState refreshed() {
        io.run(viewModel->refresh());
        return viewModel->state();
    }
    PairingResponse pairByPIN(const std::string& pin, const std::string& name, Uuid device) {
        return io.run(
            pairing.handlePairRequest({PairingMethod::pin, pin, name, device}, Uuid::random()));
    }
    static std::string wrongPIN(const AgentViewState& state) {
        return state.currentPIN == "000000" ? "111111" : "000000";
    }
    const Uuid phoneA = *Uuid::parse("11111111-1111-4111-8111-111111111111");
    const Uuid phoneB = *Uuid::parse("22222222-2222-4222-8222-222222222222");

    IoThread io;  // outlives everything that holds one of its strands
    asio::thread_pool& pool = io.pool();
    std::shared_ptr<InMemoryPairedDeviceStore> store =
        std::make_shared<InMemoryPairedDeviceStore>();
    FakeExecutors executors;
    RequestRouter router{executors};
    std::shared_ptr<ListenerService> listener;
    PairingService pairing{io.executor(), pool, store};
    std::shared_ptr<AgentViewModel> viewModel;
};

TEST_F(AgentViewModelTest, ShowsTheStateOfPairing) {
    io.run(viewModel->startListener());
    auto state = refreshed();
    EXPECT_EQ(state.pairingStatusText(), "Waiting for iPhone to scan QR");
    EXPECT_EQ(state.bonjourServiceName, "Studio Desk");
    EXPECT_EQ(state.pairingQRString.rfind("harborlink://pair?v=1&name=Studio%20Desk&code=", 0), 0u)
        << state.pairingQRString;
    EXPECT_EQ(state.statusText(), "Ready for iPhone");
    for (int attempt = 0; attempt < 5; ++attempt) (void)pairByPIN(wrongPIN(state), "x", phoneA);
    EXPECT_EQ(refreshed().pairingStatusText(), "Pairing locked \u2014 too many failed attempts");

    io.run(viewModel->unpair());  // also ends the lockout
    ASSERT_TRUE(pairByPIN(refreshed().currentPIN, "iPhone A", phoneB).isOK());
    state = refreshed();
    EXPECT_EQ(state.pairingStatusText(), "iPhone A");
    EXPECT_EQ(state.statusText(), "Waiting for iPhone");

    // Showing the code renews it; the phone that pairs with it replaces the paired one.
    io.run(viewModel->showPairingCode());
    const auto shown = viewModel->state();
    EXPECT_TRUE(shown.showsPairingBlock());
    EXPECT_NE(shown.pairingQRString, state.pairingQRString);
    ASSERT_TRUE(pairByPIN(shown.currentPIN, "iPhone B", phoneA).isOK());
    state = refreshed();
    EXPECT_FALSE(state.isShowingPairingCode) << "the replacement was made";
    EXPECT_EQ(state.pairingStatusText(), "iPhone B");
    io.run(viewModel->unpair());
    EXPECT_TRUE(viewModel->state().pairedDevices.empty());
}

TEST_F(AgentViewModelTest, AComputerWithoutANameIsShownAndPairedAsVelopadMac) {
    viewModel->stop();
    build(0, 5000ms, 10ms, false);
    const auto state = refreshed();
    EXPECT_EQ(state.bonjourServiceName, "Velopad Mac");
    EXPECT_EQ(state.pairingQRString.rfind("harborlink://pair?v=1&name=Velopad%20Mac&code=", 0), 0u)
        << state.pairingQRString;
}

TEST_F(AgentViewModelTest, RecoversAFailedListenerAtMostOncePerCooldown) {
    boost::asio::io_context context;
    auto holder = std::make_unique<boost::asio::ip::tcp::acceptor>(
        context, boost::asio::ip::tcp::endpoint{boost::asio::ip::tcp::v4(), 0});
    const auto port = holder->local_endpoint().port();
    build(port, 1500ms, 40ms);  // eight retries take 320 ms, well within the cooldown
    const std::string conflict =
        "Port " + std::to_string(port) + " is already in use. Quit the other Velopad Agent first.";

    io.run(listener->start());
    const auto retriedEightTimes = [&] {
        return io.run(listener->status()).portConflictRetries == 8;
    };
    ASSERT_TRUE(testing::waitUntil(retriedEightTimes));
    auto state = refreshed();  // finds the failure and recovers at once
    EXPECT_EQ(state.statusText(), "Connection failed");
    EXPECT_EQ(state.listenerError, conflict);
    EXPECT_LT(io.run(listener->status()).portConflictRetries, 8) << "recovery restarted the count";

    ASSERT_TRUE(testing::waitUntil(retriedEightTimes));
    refreshed();  // within the cooldown: no second recovery
    EXPECT_EQ(io.run(listener->status()).portConflictRetries, 8);

    holder.reset();
    std::this_thread::sleep_for(1200ms);
    refreshed();  // the cooldown has passed: recovery takes the free port
    EXPECT_TRUE(testing::waitUntil([&] { return refreshed().isListenerRunning; }));
    state = viewModel->state();
    EXPECT_TRUE(state.isListenerRunning);
    EXPECT_FALSE(state.listenerError);
    EXPECT_EQ(state.statusText(), "Ready for iPhone");
}

// A store that cannot be cleared, as a keyring that refuses the deletion.
class UnclearableStore final : public PairedDeviceStoring {
  public:
    std::vector<PairedDevice> load() override { return {}; }
    void save(const std::vector<PairedDevice>&) override {}
    void clear() override { throw std::runtime_error("The keyring refused."); }
};

TEST(AgentViewModelFailures, ACommandThatFailsShowsItsErrorUntilTheNextOneSucceeds) {
    IoThread io;
    FakeExecutors executors;
    RequestRouter router{executors};
    auto listener = ListenerService::create(io.executor(), router, {.port = 0});
    PairingService pairing{io.executor(), io.pool(), std::make_shared<UnclearableStore>()};
    AgentViewModelOptions options;
    int namesAsked = 0;
    options.computerName = [&namesAsked] {
        // The first passes of the refresh loop fail; the loop must go on regardless.
        if (++namesAsked <= 2) throw std::runtime_error("no name yet");
        return std::string("Studio Desk");
    };
    options.refreshPeriod = 10ms;
    auto viewModel = AgentViewModel::create(io.executor(), pairing, *listener, options);
    std::vector<std::string> problems;
    viewModel->setProblemReporter(
        [&problems](std::string_view problem) { problems.emplace_back(problem); });
    viewModel->start();
    EXPECT_TRUE(testing::waitUntil([&] {
        return viewModel->state().bonjourServiceName == "Studio Desk";
    })) << "the refresh loop ended after a failed pass";

    viewModel->post(&AgentViewModel::unpair);
    EXPECT_TRUE(testing::waitUntil([&] {
        return viewModel->state().commandError ==
               "The paired devices could not be removed: The keyring refused.";
    }));
    viewModel->post(&AgentViewModel::dismissShortcutCoach);
    EXPECT_TRUE(testing::waitUntil([&] { return !viewModel->state().commandError; }));

    viewModel->stop();
    io.run(listener->shutdown());
    io.drain();
    EXPECT_FALSE(problems.empty());
}

}  // namespace
}  // namespace velopad::test
