#include "app/desktop/editor/jiggle_animator.h"

#include <QEasingCurve>
#include <cmath>
#include <numbers>

namespace velopad::desktop {

namespace {

int positiveModulo(int value, int modulus) { return ((value % modulus) + modulus) % modulus; }

int milliseconds(double seconds) { return static_cast<int>(std::lround(seconds * 1000)); }

// A linear animation from `from` to `to` and back (one period each way), forever.
QVariantAnimation* makeWobble(QObject* parent, double from, double to, double period) {
    auto* animation = new QVariantAnimation(parent);
    animation->setStartValue(from);
    animation->setKeyValueAt(0.5, to);
    animation->setEndValue(from);
    animation->setEasingCurve(QEasingCurve::Linear);
    animation->setDuration(2 * milliseconds(period));
    animation->setLoopCount(-1);
    return animation;
}

}  // namespace

JiggleAnimator::JiggleAnimator(QObject* parent) : QObject(parent) {
    startTimer_.setSingleShot(true);
    connect(&startTimer_, &QTimer::timeout, this, &JiggleAnimator::start);
}

double JiggleAnimator::rotationDuration(int seed) {
    return (positiveModulo(seed + 1, 11) - 5) / 5.0 * 0.025 + 0.14;
}

double JiggleAnimator::bounceDuration(int seed) {
    return (positiveModulo(seed + 3, 11) - 5) / 5.0 * 0.025 + 0.18;
}

double JiggleAnimator::startDelay(int seed) { return positiveModulo(seed, 5) * 0.03; }

double JiggleAnimator::rotationAmplitude(int seed) { return seed % 2 == 0 ? 0.02 : -0.02; }

bool JiggleAnimator::isAnimating() const {
    return rotationAnimation_ && rotationAnimation_->state() == QAbstractAnimation::Running &&
           bounceAnimation_ && bounceAnimation_->state() == QAbstractAnimation::Running;
}

int JiggleAnimator::animationCount() const {
    return static_cast<int>(findChildren<QVariantAnimation*>(Qt::FindDirectChildrenOnly).size());
}

QTransform JiggleAnimator::transform(const QSizeF& size) const {
    QTransform transform;
    transform.translate(size.width() / 2, size.height() / 2 + bounce_);
    transform.rotateRadians(rotation_);
    transform.translate(-size.width() / 2, -size.height() / 2);
    return transform;
}

void JiggleAnimator::setActive(bool active, int seed) {
    if (active && active_ && runningSeed_ == seed && rotationAnimation_) return;
    const bool wasActive = active_;
    active_ = active;
    seed_ = seed;
    startTimer_.stop();

    removeAnimations();
    if (!active) {
        runningSeed_.reset();
        if (wasActive && (rotation_ != 0 || bounce_ != 0)) {
            // Back to rest over 0.1 s.
            const double fromRotation = rotation_;
            const double fromBounce = bounce_;
            settleAnimation_ = new QVariantAnimation(this);
            settleAnimation_->setStartValue(1.0);
            settleAnimation_->setEndValue(0.0);
            settleAnimation_->setDuration(100);
            connect(settleAnimation_, &QVariantAnimation::valueChanged, this,
                    [this, fromRotation, fromBounce](const QVariant& value) {
                        const double remaining = value.toDouble();
                        rotation_ = fromRotation * remaining;
                        bounce_ = fromBounce * remaining;
                        emit changed();
                    });
            settleAnimation_->start(QAbstractAnimation::DeleteWhenStopped);
        } else {
            rotation_ = 0;
            bounce_ = 0;
            emit changed();
        }
        return;
    }

    rotation_ = 0;
    bounce_ = 0;
    emit changed();
    runningSeed_ = seed;
    const int delay = milliseconds(startDelay(seed));
    if (delay == 0) {
        start();
    } else {
        startTimer_.start(delay);
    }
}

void JiggleAnimator::start() {
    if (!active_) return;
    removeAnimations();
    const double amplitude = rotationAmplitude(seed_);
    rotationAnimation_ = makeWobble(this, -amplitude, amplitude, rotationDuration(seed_));
    connect(rotationAnimation_, &QVariantAnimation::valueChanged, this,
            [this](const QVariant& value) {
                rotation_ = value.toDouble();
                emit changed();
            });
    bounceAnimation_ = makeWobble(this, -2.0, 0.0, bounceDuration(seed_));
    connect(bounceAnimation_, &QVariantAnimation::valueChanged, this,
            [this](const QVariant& value) {
                bounce_ = value.toDouble();
                emit changed();
            });
    rotationAnimation_->start();
    bounceAnimation_->start();
}

void JiggleAnimator::removeAnimations() {
    for (QPointer<QVariantAnimation>* animation :
         {&rotationAnimation_, &bounceAnimation_, &settleAnimation_}) {
        if (*animation) {
            (*animation)->stop();
            delete animation->data();
        }
        *animation = nullptr;
    }
}

}  // namespace velopad::desktop
