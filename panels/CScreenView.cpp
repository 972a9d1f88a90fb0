#include "panels/CScreenView.h"

#include <QPainter>
#include <chrono>

#include "panels/ImageServices.h"

namespace {

constexpr int kAgeCheckMs = 500;
constexpr int kDimAlpha = 150;

qint64 SteadyMs() {
    return static_cast<qint64>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

}  // namespace

CScreenView::CScreenView(QSize size, QWidget* parent) : QWidget(parent), clock_(SteadyMs) {
    setFixedSize(size);
    setAttribute(Qt::WA_OpaquePaintEvent);
    ageTimer_.setInterval(kAgeCheckMs);
    connect(&ageTimer_, &QTimer::timeout, this, &CScreenView::CheckAge);
}

void CScreenView::PostFrame(QImage frame) {
    QMetaObject::invokeMethod(
        this, [this, frame = std::move(frame)] { ShowFrame(frame); }, Qt::QueuedConnection);
}

void CScreenView::ShowFrame(const QImage& frame) {
    frame_ = frame;
    ++framesShown_;
    lastFrameAt_ = clock_();
    stale_.clear();
    update();
    emit frameShown();
}

void CScreenView::SetOverlay(const QString& text) {
    if (text != overlay_) {
        overlay_ = text;
        update();
    }
}

void CScreenView::SetLive(bool live) {
    if (live == live_) {
        return;
    }
    live_ = live;
    // Frames are due from now on; the one on show has not been late yet.
    lastFrameAt_ = clock_();
    if (live) {
        ageTimer_.start();
    } else {
        ageTimer_.stop();
    }
    if (!stale_.isEmpty()) {
        stale_.clear();
        update();
    }
}

void CScreenView::CheckAge() {
    QString stale;
    const qint64 age = clock_() - lastFrameAt_;
    if (live_ && !frame_.isNull() && age >= kStaleAfterMs) {
        stale = tr("last frame %1 s ago").arg(age / 1000);
    }
    if (stale != stale_) {
        stale_ = stale;
        update();
    }
}

void CScreenView::SetClock(Clock clock) {
    clock_ = std::move(clock);
    lastFrameAt_ = clock_();
}

QString CScreenView::Mark() const {
    return overlay_.isEmpty() ? stale_ : overlay_;
}

void CScreenView::paintEvent(QPaintEvent* /*event*/) {
    QPainter p(this);
    if (frame_.isNull()) {
        p.fillRect(rect(), QColor(16, 20, 24));
        p.setPen(QColor(128, 144, 160));
        p.drawText(rect(), Qt::AlignCenter,
                   overlay_.isEmpty() ? tr("Right-click: Connect, then Start") : overlay_);
        return;
    }
    qv::ImageServices::DrawStretched(p, QRect(QPoint(0, 0), frame_.size()), frame_);
    if (frame_.width() < width() || frame_.height() < height()) {
        p.fillRect(QRect(frame_.width(), 0, width() - frame_.width(), height()), Qt::black);
        p.fillRect(QRect(0, frame_.height(), frame_.width(), height() - frame_.height()),
                   Qt::black);
    }
    const QString mark = Mark();
    if (mark.isEmpty()) {
        return;
    }
    // The last frame stays visible, dimmed, with what is wrong written over it.
    p.fillRect(rect(), QColor(0, 0, 0, kDimAlpha));
    QFont font = p.font();
    font.setPixelSize(std::max(14, height() / 22));
    font.setBold(true);
    p.setFont(font);
    p.setPen(QColor(255, 214, 102));
    p.drawText(rect(), Qt::AlignCenter, mark);
}
