#include "panels/CScreenView.h"

#include <QPainter>

#include "panels/ImageServices.h"

CScreenView::CScreenView(QSize size, QWidget* parent) : QWidget(parent) {
    setFixedSize(size);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CScreenView::PostFrame(QImage frame) {
    QMetaObject::invokeMethod(
        this, [this, frame = std::move(frame)] { ShowFrame(frame); }, Qt::QueuedConnection);
}

void CScreenView::ShowFrame(const QImage& frame) {
    frame_ = frame;
    ++framesShown_;
    update();
    emit frameShown();
}

void CScreenView::paintEvent(QPaintEvent* /*event*/) {
    QPainter p(this);
    if (frame_.isNull()) {
        p.fillRect(rect(), QColor(16, 20, 24));
        p.setPen(QColor(128, 144, 160));
        p.drawText(rect(), Qt::AlignCenter, tr("Right-click: Connect, then Start"));
        return;
    }
    qv::ImageServices::DrawStretched(p, QRect(QPoint(0, 0), frame_.size()), frame_);
    if (frame_.width() < width() || frame_.height() < height()) {
        p.fillRect(QRect(frame_.width(), 0, width() - frame_.width(), height()), Qt::black);
        p.fillRect(QRect(0, frame_.height(), frame_.width(), height() - frame_.height()),
                   Qt::black);
    }
}
