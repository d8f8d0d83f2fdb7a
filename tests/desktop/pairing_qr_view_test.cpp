// The pairing QR code as drawn in the panel reads back, with a camera's decoder, as the exact
// pairing URL, also for the longest computer name.

#include "app/desktop/pairing_qr_view.h"

#include <gtest/gtest.h>

#include <QPixmap>
#include <filesystem>

#include "protocol/pairing_records.h"
#include "qt_application.h"
#include "tests/support/child_process.h"
#include "tests/support/sandbox_fixture.h"

namespace velopad {
namespace {

using velopad::testing::SandboxTest;

// zbarimg's reading of a PNG file, without its trailing newline; empty when it finds nothing.
std::string decoded(const std::filesystem::path& png) {
    std::string text = velopad::testing::runCapturingOutput(
                           {"zbarimg", "--quiet", "--raw", "-Sdisable", "-Sqrcode.enable", png})
                           .second;
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

class PairingQRViewTest : public SandboxTest {
  protected:
    void SetUp() override {
        if (std::system("command -v zbarimg >/dev/null") != 0) GTEST_SKIP() << "needs zbarimg";
        velopad::testing::qtApplication();
    }
};

TEST_F(PairingQRViewTest, DrawnCodeDecodesToThePairingURLAndNoURLShowsThePlaceholder) {
    desktop::PairingQRView view;
    EXPECT_TRUE(view.showsPlaceholder());
    // A name of the longest advertised length (63 bytes), with characters sent percent-encoded.
    const std::string url =
        PairingQRPayload{
            1, "Ana\u2019s Workstation \u2014 Second Floor Studio " + std::string(19, 'W'),
            "Jd3kq0V5rTqg7mZb1xWc8yHn2LpA4sEf6uKoN9iGt0Q"}
            .pairingURL();
    view.setQRString(QString::fromStdString(url));
    EXPECT_FALSE(view.showsPlaceholder());
    const auto png = sandbox.root() / "code.png";
    ASSERT_TRUE(view.grab().save(QString::fromStdString(png.string())));
    EXPECT_EQ(decoded(png), url);
    view.setQRString(QString());
    EXPECT_TRUE(view.showsPlaceholder());
}

}  // namespace
}  // namespace velopad
