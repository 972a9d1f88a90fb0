#include "widgets/CSkinButton.h"

#include <QPainter>

#include "widgets/SkinLibrary.h"

CSkinButton::CSkinButton(QWidget* parent) : QAbstractButton(parent) {
    setAutoFillBackground(false);
}

void CSkinButton::LoadBitmaps(int normal, int pressed, int focus, int disabled) {
    const std::array<int, 4> ids{normal, pressed, focus, disabled};
    std::array<QImage, 4> images;
    for (std::size_t i = 0; i < ids.size(); ++i) {
        if (ids[i] != 0) {
            images[i] = qv::SkinImage(ids[i]);
        }
    }
    SetImages(images);
}

void CSkinButton::SetImages(const std::array<QImage, 4>& images) {
    images_ = images;
}

void CSkinButton::SizeToContent() {
    if (!images_[kNormal].isNull()) {
        resize(images_[kNormal].size());
    }
}

int CSkinButton::ChosenSlot() const {
    const auto has = [this](Slot s) { return !images_[s].isNull(); };
    if (isDown() && has(kPressed)) {
        return kPressed;
    }
    if (hasFocus() && has(kFocus)) {
        return kFocus;
    }
    if (!isEnabled() && has(kDisabled)) {
        return kDisabled;
    }
    return has(kNormal) ? kNormal : -1;
}

QSize CSkinButton::sizeHint() const {
    return images_[kNormal].isNull() ? QAbstractButton::sizeHint() : images_[kNormal].size();
}

void CSkinButton::paintEvent(QPaintEvent* /*event*/) {
    const int slot = ChosenSlot();
    if (slot < 0) {
        return;
    }
    QPainter painter(this);
    painter.drawImage(0, 0, Image(slot));
}
