// The pairing QR code as drawn in the panel reads back, with a camera's decoder, as the exact
// pairing URL — also for a long computer name at the same 156-pixel size.

#include "app/desktop/pairing_qr_view.h"

#include <gtest/gtest.h>

#include <QImage>
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

TEST_F(PairingQRViewTest, DrawnCodeDecodesToThePairingURL) {
    const std::string code43 = "Jd3kq0V5rTqg7mZb1xWc8yHn2LpA4sEf6uKoN9iGt0Q";
    const std::string names[] = {
        "Studio Desk",
        "Ana\u2019s Workstation \u2014 Second Floor Recording Studio (Linux)",
        std::string(63, 'W'),
    };
    for (const auto& name : names) {
        const std::string url = PairingQRPayload{1, name, code43}.pairingURL();
        SCOPED_TRACE(url);
        desktop::PairingQRView view;
        view.setQRString(QString::fromStdString(url));
        ASSERT_FALSE(view.showsPlaceholder());
        ASSERT_EQ(view.size(), QSize(196, 196));
        const QImage drawn = view.grab().toImage();

        // The modules fill exactly the 156-pixel square inside 20 pixels of frame; the white
        // padding around them is the quiet zone the camera needs.
        const QImage image = drawn.convertToFormat(QImage::Format_RGB32);
        EXPECT_EQ(image.pixelColor(20 - 3, 98), QColor(Qt::white));
        EXPECT_EQ(image.pixelColor(20, 20), QColor(Qt::black)) << "finder pattern corner";
        EXPECT_EQ(image.pixelColor(175, 20), QColor(Qt::black)) << "finder pattern corner";
        EXPECT_EQ(image.pixelColor(20, 175), QColor(Qt::black)) << "finder pattern corner";
        EXPECT_EQ(image.pixelColor(177, 98), QColor(Qt::white));

        const auto png = sandbox.root() / "code.png";
        ASSERT_TRUE(drawn.save(QString::fromStdString(png.string())));
        EXPECT_EQ(decoded(png), url);
    }
}

TEST_F(PairingQRViewTest, NoURLShowsTheSpinnerPlaceholderAndAURLReplacesIt) {
    desktop::PairingQRView view;
    view.setQRString(QString());
    EXPECT_TRUE(view.showsPlaceholder());
    EXPECT_EQ(view.size(), QSize(180, 180));
    // Not a blank square: the spinner's spokes are drawn.
    const QImage middle = view.grab().toImage().copy(75, 75, 30, 30);
    QImage blank(middle.size(), middle.format());
    blank.fill(middle.pixelColor(15, 15));
    EXPECT_NE(middle, blank);

    view.setQRString(QStringLiteral("harborlink://pair?v=1&name=A&code=B"));
    EXPECT_FALSE(view.showsPlaceholder());
    EXPECT_EQ(view.size(), QSize(196, 196));
    view.setQRString(QString());
    EXPECT_TRUE(view.showsPlaceholder());
}

}  // namespace
}  // namespace velopad
