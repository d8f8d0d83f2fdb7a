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

class HeadlessFrontEndTest : public ::testing::Test {
  protected:
    std::string render(const AgentViewState& state) {
        out.str("");
        frontEnd.render(state);
        return out.str();
    }
    static bool has(const std::string& text, const std::string& part) {
        return text.find(part) != std::string::npos;
    }

    std::ostringstream out;
    int quits = 0;
    HeadlessFrontEnd frontEnd{nullptr, out, [this] { ++quits; }};
};

TEST_F(HeadlessFrontEndTest, PrintsThePairingDetailsAtStartAndOnlyWhatChangesLater) {
    const auto first = render(readyState());
    EXPECT_TRUE(has(first, "PIN: 042137\n")) << first;
    EXPECT_TRUE(has(first, "Pairing URL: harborlink://pair?v=1&name=Desk&code=abc\n"));
    EXPECT_TRUE(has(first, "\u2580")) << "the QR code is drawn";
    EXPECT_EQ(render(readyState()), "") << "an equal state prints nothing";

    auto state = readyState();
    state.currentPIN = "990001";
    EXPECT_EQ(render(state), "PIN: 990001\n");
    state.isListenerRunning = false;
    state.listenerError = "Port 9847 is already in use. Quit the other Velopad Agent first.";
    EXPECT_EQ(render(state),
              "Status: Connection failed\n"
              "Error: Port 9847 is already in use. Quit the other Velopad Agent first.\n");
}

TEST_F(HeadlessFrontEndTest, ShowsThePairedPhoneAndOnlyOnRequestTheCodeThatReplacesIt) {
    render(readyState());
    auto paired = readyState();
    paired.pairedDevices.push_back({Uuid::random(), "iPhone A", {"SECRET-TOKEN-VALUE"}, {}});
    EXPECT_EQ(render(paired), "Pairing: iPhone A\nStatus: Waiting for iPhone\n");
    paired.isShowingPairingCode = true;
    const auto shown = render(paired);
    EXPECT_TRUE(has(shown,
                    "Scan to pair this iPhone again. This replaces the pairing on this "
                    "computer."))
        << shown;
    EXPECT_TRUE(has(shown, "\u2580")) << "the QR code is drawn again";
}

TEST_F(HeadlessFrontEndTest, TakesTheQuitCommandAndExplainsUnknownOnes) {
    EXPECT_TRUE(frontEnd.command("  quit \r"));
    EXPECT_EQ(quits, 1);
    EXPECT_FALSE(frontEnd.command("reboot"));
    EXPECT_TRUE(
        has(out.str(), "Commands: restart, unpair, show-code, hide-code, dismiss, push, quit"));
}

}  // namespace
}  // namespace velopad::test
