#include "app/agent_view_model.h"

#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <memory>
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

// A store that cannot be cleared, as a keyring that refuses the deletion.
class UnclearableStore final : public PairedDeviceStoring {
  public:
    std::vector<PairedDevice> load() override { return {}; }
    void save(const std::vector<PairedDevice>&) override {}
    void clear() override { throw std::runtime_error("The keyring refused."); }
};

class AgentViewModelTest : public ::testing::Test {
  protected:
    void SetUp() override { build(); }
    void TearDown() override {
        viewModel->stop();
        io.run(listener->shutdown());
        io.drain();
    }

    // A view model that the test refreshes itself, on a listener that has not started yet.
    void build(ListenerOptions listenerOptions = {.port = 0},
               AgentViewModelOptions options = {
                   .computerName = [] { return std::string("Studio Desk"); },
                   .refreshPeriod = 3600s}) {
        pairing = std::make_unique<PairingService>(io.executor(), io.pool(), store);
        listener = ListenerService::create(io.executor(), router, listenerOptions);
        viewModel = AgentViewModel::create(io.executor(), *pairing, *listener, options);
    }

    AgentViewState refreshed() {
        io.run(viewModel->refresh());
        return viewModel->state();
    }
    PairingResponse pairByPIN(const std::string& pin, const std::string& name) {
        return io.run(pairing->handlePairRequest({PairingMethod::pin, pin, name, Uuid::random()},
                                                 Uuid::random()));
    }
    static std::string wrongPIN(const AgentViewState& state) {
        return state.currentPIN == "000000" ? "111111" : "000000";
    }

    IoThread io;  // outlives everything that holds one of its strands
    std::shared_ptr<PairedDeviceStoring> store = std::make_shared<InMemoryPairedDeviceStore>();
    FakeExecutors executors;
    RequestRouter router{executors};
    std::unique_ptr<PairingService> pairing;
    std::shared_ptr<ListenerService> listener;
    std::shared_ptr<AgentViewModel> viewModel;
    std::vector<std::string> problems;
};

TEST_F(AgentViewModelTest, ShowsTheStateOfPairing) {
    io.run(viewModel->startListener());
    auto state = refreshed();
    EXPECT_EQ(state.pairingStatusText(), "Waiting for iPhone to scan QR");
    EXPECT_EQ(state.bonjourServiceName, "Studio Desk");
    EXPECT_EQ(state.pairingQRString.rfind("harborlink://pair?v=1&name=Studio%20Desk&code=", 0), 0u)
        << state.pairingQRString;
    EXPECT_EQ(state.statusText(), "Ready for iPhone");
    for (int attempt = 0; attempt < 5; ++attempt) (void)pairByPIN(wrongPIN(state), "x");
    EXPECT_EQ(refreshed().pairingStatusText(), "Pairing locked \u2014 too many failed attempts");

    io.run(viewModel->unpair());  // also ends the lockout
    ASSERT_TRUE(pairByPIN(refreshed().currentPIN, "iPhone A").isOK());
    state = refreshed();
    EXPECT_EQ(state.pairingStatusText(), "iPhone A");
    EXPECT_EQ(state.statusText(), "Waiting for iPhone");

    // Showing the code renews it; unpairing hides it.
    io.run(viewModel->showPairingCode());
    EXPECT_TRUE(viewModel->state().showsPairingBlock());
    EXPECT_NE(viewModel->state().pairingQRString, state.pairingQRString);
    io.run(viewModel->unpair());
    EXPECT_TRUE(viewModel->state().pairedDevices.empty());
    EXPECT_FALSE(viewModel->state().isShowingPairingCode);
}

TEST_F(AgentViewModelTest, AComputerWithoutANameIsShownAndPairedAsVelopadMac) {
    build({.port = 0}, {.refreshPeriod = 3600s});
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
    // Eight retries take 320 ms, well within the cooldown.
    build({.port = port, .portConflictRetryDelay = 40ms},
          {.refreshPeriod = 3600s, .recoveryCooldown = 1500ms});
    io.run(listener->start());
    const auto retriedEightTimes = [&] {
        return io.run(listener->status()).portConflictRetries == 8;
    };
    ASSERT_TRUE(testing::waitUntil(retriedEightTimes));
    auto state = refreshed();  // finds the failure and recovers at once
    EXPECT_EQ(state.statusText(), "Connection failed");
    EXPECT_EQ(state.listenerError, "Port " + std::to_string(port) +
                                       " is already in use. Quit the other Velopad Agent first.");
    EXPECT_LT(io.run(listener->status()).portConflictRetries, 8) << "recovery restarted the count";

    ASSERT_TRUE(testing::waitUntil(retriedEightTimes));
    refreshed();  // within the cooldown: no second recovery
    EXPECT_EQ(io.run(listener->status()).portConflictRetries, 8);

    holder.reset();
    std::this_thread::sleep_for(1200ms);  // past the cooldown: a refresh takes the free port
    EXPECT_TRUE(testing::waitUntil([&] { return refreshed().isListenerRunning; }));
    EXPECT_FALSE(viewModel->state().listenerError);
    EXPECT_EQ(viewModel->state().statusText(), "Ready for iPhone");
}

TEST_F(AgentViewModelTest, ACommandThatFailsShowsItsErrorUntilTheNextOneSucceeds) {
    store = std::make_shared<UnclearableStore>();
    build({.port = 0}, {.computerName =
                            [asked = std::make_shared<int>(0)] {
                                // The first passes of the refresh loop fail; the loop must go on
                                // regardless.
                                if (++*asked <= 2) throw std::runtime_error("no name yet");
                                return std::string("Studio Desk");
                            },
                        .refreshPeriod = 10ms});
    viewModel->setProblemReporter(
        [this](std::string_view problem) { problems.emplace_back(problem); });
    viewModel->start();
    EXPECT_TRUE(testing::waitUntil([&] {
        return viewModel->state().bonjourServiceName == "Studio Desk";
    })) << "the refresh loop ended after a failed pass";
    EXPECT_FALSE(problems.empty());

    viewModel->post(&AgentViewModel::unpair);
    EXPECT_TRUE(testing::waitUntil([&] {
        return viewModel->state().commandError ==
               "The paired devices could not be removed: The keyring refused.";
    }));
    viewModel->post(&AgentViewModel::dismissShortcutCoach);
    EXPECT_TRUE(testing::waitUntil([&] { return !viewModel->state().commandError; }));
}

}  // namespace
}  // namespace velopad::test
