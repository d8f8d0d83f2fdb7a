// A native Wayland window for focus tests on real compositors: wayland_window <app id> <record>
// appends "pid=<pid>" to the record file once, then "active" or "inactive" whenever the
// compositor gives or takes its focus. Run it with QT_QPA_PLATFORM=wayland and WAYLAND_DISPLAY.

#include <unistd.h>

#include <QFile>
#include <QGuiApplication>
#include <QPainter>
#include <QRasterWindow>

namespace {

class Window : public QRasterWindow {
  public:
    explicit Window(QString record) : record_(std::move(record)) {
        connect(this, &QWindow::activeChanged, this,
                [this] { append(isActive() ? "active" : "inactive"); });
    }

    void append(const QByteArray& line) {
        QFile file(record_);
        if (file.open(QIODevice::Append)) file.write(line + "\n");
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter(this).fillRect(QRect(QPoint(0, 0), size()), Qt::darkCyan);
    }

  private:
    QString record_;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) return 64;
    QGuiApplication::setDesktopFileName(QString::fromLocal8Bit(argv[1]));
    QGuiApplication app(argc, argv);
    Window window(QString::fromLocal8Bit(argv[2]));
    window.setTitle(QString::fromLocal8Bit(argv[1]));
    window.resize(320, 200);
    window.append("pid=" + QByteArray::number(static_cast<int>(::getpid())));
    window.show();
    return QGuiApplication::exec();
}
