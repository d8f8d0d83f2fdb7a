#pragma once
// The pairing QR code as the phone's camera sees it: the modules drawn without smoothing into
// 156 × 156, 12 of padding on a white rounded square, 8 more on a translucent rounded backdrop
// (196 × 196 in all). Without a pairing URL a 180 × 180 placeholder with a spinner.

#include <QImage>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <string_view>

namespace velopad::desktop {

// The QR code of `text` (level M), `side` pixels square, modules as hard-edged blocks, no quiet
// zone. Null for empty text or text no QR code can hold.
QImage pairingQRImage(std::string_view text, int side);

class PairingQRView : public QWidget {
    Q_OBJECT

  public:
    static constexpr int codeSide = 156;
    static constexpr int whitePadding = 12;
    static constexpr int backdropPadding = 8;
    static constexpr int side = codeSide + 2 * (whitePadding + backdropPadding);  // 196
    static constexpr int placeholderSide = 180;

    explicit PairingQRView(QWidget* parent = nullptr);

    void setQRString(const QString& text);
    const QString& qrString() const { return text_; }
    bool showsPlaceholder() const { return image_.isNull(); }

    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    void updateSpinner();

    QString text_;
    QImage image_;
    QTimer spinnerTimer_;
    int spinnerStep_ = 0;
};

}  // namespace velopad::desktop
