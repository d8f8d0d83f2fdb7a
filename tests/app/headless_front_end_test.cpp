#include "app/terminal/headless_front_end.h"

#include <gtest/gtest.h>

#include <sstream>

namespace velopad::test {
namespace {

AgentViewState readyState() {
    AgentViewState state;
    state.currentPIN = "042137";
    state.pairingQRString = "harborlink://pair?v=1&name=Desk&code=abc";
    state.bonjourServiceName = "Desk";
    state.isListenerRunning = true;
    return state;
}

std::size_t count(const std::string& text, const std::string& part) {
    std::size_t found = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++found;
    return found;
}

class HeadlessFrontEndTest : public ::testing::Test {
  protected:
    std::string render(const AgentViewState& state) {
        out.str("");
        frontEnd.render(state);
        return out.str();
    }

    std::ostringstream out;
    int quits = 0;
    HeadlessFrontEnd frontEnd{nullptr, out, [this] { ++quits; }};
};

TEST_F(HeadlessFrontEndTest, PrintsThePairingDetailsAtStartAndOnlyWhatChangesLater) {
    const auto first = render(readyState());
    EXPECT_NE(first.find("PIN: 042137\n"), std::string::npos) << first;
    EXPECT_NE(first.find("Pairing URL: harborlink://pair?v=1&name=Desk&code=abc\n"),
              std::string::npos);
    EXPECT_NE(first.find("\u2580"), std::string::npos) << "the QR code is drawn";
    EXPECT_NE(first.find("Status: Ready for iPhone\n"), std::string::npos);

    EXPECT_EQ(render(readyState()), "") << "an equal state prints nothing";

    auto renewed = readyState();
    renewed.currentPIN = "990001";
    EXPECT_EQ(render(renewed), "PIN: 990001\n");

    auto failed = renewed;
    failed.isListenerRunning = false;
    failed.listenerError = "Port 9847 is already in use. Quit the other Velopad Agent first.";
    const auto failure = render(failed);
    EXPECT_NE(failure.find("Status: Connection failed\n"), std::string::npos) << failure;
    EXPECT_NE(
        failure.find("Error: Port 9847 is already in use. Quit the other Velopad Agent first.\n"),
        std::string::npos);
}

TEST_F(HeadlessFrontEndTest, ShowsThePairedPhoneInsteadOfTheCodeAndNeverItsToken) {
    render(readyState());
    auto paired = readyState();
    paired.pairedDevices.push_back(
        PairedDevice{Uuid::random(), "iPhone A", DeviceToken{"SECRET-TOKEN-VALUE"}, {}});
    const auto text = render(paired);
    EXPECT_NE(text.find("Pairing: iPhone A\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Status: Waiting for iPhone\n"), std::string::npos);
    EXPECT_EQ(text.find("SECRET-TOKEN-VALUE"), std::string::npos);

    paired.isShowingPairingCode = true;
    const auto shown = render(paired);
    EXPECT_NE(
        shown.find("Scan to pair this iPhone again. This replaces the pairing on this computer."),
        std::string::npos)
        << shown;
    EXPECT_GT(count(shown, "\u2580") + count(shown, "\u2584"), 0u) << "the QR code is drawn again";
}

TEST_F(HeadlessFrontEndTest, TakesTheQuitCommandAndExplainsUnknownOnes) {
    EXPECT_TRUE(frontEnd.command("  quit \r"));
    EXPECT_EQ(quits, 1);
    EXPECT_TRUE(frontEnd.command(""));
    EXPECT_FALSE(frontEnd.command("reboot"));
    EXPECT_NE(
        out.str().find("Commands: restart, unpair, show-code, hide-code, dismiss, push, quit"),
        std::string::npos);
}

}  // namespace
}  // namespace velopad::test
