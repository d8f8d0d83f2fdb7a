#pragma once
// The edit-mode wobble of one key on the phone preview: a small rotation and a bounce, each with
// its own period derived from the key's seed, started a little later for some seeds so that
// neighbouring keys move out of step. The key paints itself through transform().

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QTransform>
#include <QVariantAnimation>
#include <optional>

namespace velopad::desktop {

class JiggleAnimator : public QObject {
    Q_OBJECT

  public:
    explicit JiggleAnimator(QObject* parent = nullptr);

    // Turns the wobble on or off for a key with `seed`. Every activation removes both running
    // animations first, so they never stack; turning off settles the key back to rest (over
    // 0.1 s when it was wobbling).
    void setActive(bool active, int seed);

    bool isActive() const { return active_; }
    // The seed the running (or pending) wobble was started with.
    std::optional<int> runningSeed() const { return runningSeed_; }
    // Whether the delayed start is still pending, and its delay in milliseconds.
    bool isStartPending() const { return startTimer_.isActive(); }
    int startDelayMs() const { return startTimer_.interval(); }
    // Whether the rotation and bounce animations are running.
    bool isAnimating() const;
    // The animations that exist now (rotation, bounce and settling ones).
    int animationCount() const;

    // Rotation in radians and vertical offset in pixels, as the key should be drawn now.
    double rotation() const { return rotation_; }
    double bounce() const { return bounce_; }
    // Rotation about the centre of a key of `size`, then the bounce.
    QTransform transform(const QSizeF& size) const;

    // The periods and start delay, in seconds, for `seed`.
    static double rotationDuration(int seed);
    static double bounceDuration(int seed);
    static double startDelay(int seed);
    static double rotationAmplitude(int seed);

  signals:
    void changed();

  private:
    void start();
    void removeAnimations();

    bool active_ = false;
    int seed_ = 0;
    std::optional<int> runningSeed_;
    QTimer startTimer_;
    QPointer<QVariantAnimation> rotationAnimation_;
    QPointer<QVariantAnimation> bounceAnimation_;
    QPointer<QVariantAnimation> settleAnimation_;
    double rotation_ = 0;
    double bounce_ = 0;
};

}  // namespace velopad::desktop
