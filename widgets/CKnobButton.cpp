#include "widgets/CKnobButton.h"

#include <QMouseEvent>
#include <QWheelEvent>
#include <cmath>
#include <numbers>
#include <string>

#include "widgets/CRemoteDlg.h"

CKnobButton::CKnobButton(QWidget* parent) : CSkinButton(parent) {
    // Moves must arrive without a held button: a release outside keeps the knob turning.
    setMouseTracking(true);
    setFocusPolicy(Qt::NoFocus);
}

void CKnobButton::SetImages(const std::array<int, 13>& ids) {
    const int s = std::min(width(), height());
    center_ = QPoint(s / 2, s / 2);
    ids_ = ids;
}

void CKnobButton::LoadPositionImages() {
    const int id = ids_[static_cast<std::size_t>(position_)];
    LoadBitmaps(id, id, id, ids_[0]);
}

int CKnobButton::AngleFromPoint(int x, int y) const {
    const int dx = x - center_.x();
    const int dy = y - center_.y();
    if (dx == 0) {
        return dy < 0 ? 0 : 180;
    }
    double a = 90.0 - std::atan(-static_cast<double>(dy) / dx) * 180.0 / std::numbers::pi;
    if (dx < 0) {
        a += 180.0;
    }
    while (a < 0.0) {
        a += 360.0;
    }
    while (a >= 360.0) {
        a -= 360.0;
    }
    return static_cast<int>(a);
}

int CKnobButton::PositionFromAngle(int angle) {
    if (angle < 15 || angle > 344) {
        return 1;
    }
    return (angle - 15) / 30 + 2;
}

int CKnobButton::StepsBetween(int from, int to) {
    const int d = to - from;
    if (d == 11) {
        return -1;
    }
    if (d == -11) {
        return 1;
    }
    return d;
}

void CKnobButton::UpdatePosition(int angle) {
    const int next = PositionFromAngle(angle);
    if (next == position_) {
        return;
    }
    Step(StepsBetween(position_, next));
}

void CKnobButton::Step(int steps) {
    if (steps == 0) {
        return;
    }
    // Counted down to zero: GCC 12 with -fsanitize=thread miscompiled `i < std::abs(steps)`
    // here into a loop that never ended.
    const int toward = steps < 0 ? 1 : -1;
    const std::string key = steps < 0 ? "KEYP:LEFT" : "KEYP:RIGH";
    for (int left = steps; left != 0; left += toward) {
        if (owner_ != nullptr) {
            owner_->SendKey(key);
        }
    }
    position_ = ((position_ - 1 + steps) % 12 + 12) % 12 + 1;
    LoadPositionImages();
    repaint();
}

void CKnobButton::wheelEvent(QWheelEvent* event) {
    constexpr int kNotch = 120;  // eighths of a degree
    if (!isEnabled()) {
        event->ignore();
        return;
    }
    wheelRest_ += event->angleDelta().y();
    const int notches = wheelRest_ / kNotch;
    wheelRest_ -= notches * kNotch;
    Step(notches);
    event->accept();
}

void CKnobButton::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && !turning_) {
        turning_ = true;  // not pressed in, no click: the knob only turns
        event->accept();
        return;
    }
    CSkinButton::mousePressEvent(event);
}

void CKnobButton::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && turning_) {
        // Qt hands the release to the pressed widget wherever it happens; one outside the knob
        // is the release the knob never sees, so turning goes on.
        // A second press while turning went to the button; let it up without a click.
        if (isDown()) {
            setDown(false);
        }
        if (!rect().contains(event->position().toPoint())) {
            event->accept();
            return;
        }
        turning_ = false;
        event->accept();
        return;
    }
    CSkinButton::mouseReleaseEvent(event);
}

void CKnobButton::mouseMoveEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    // Without a capture, moves off the knob never reach it.
    if (turning_ && rect().contains(p)) {
        UpdatePosition(AngleFromPoint(p.x(), p.y()));
        event->accept();
        return;
    }
    CSkinButton::mouseMoveEvent(event);
}
