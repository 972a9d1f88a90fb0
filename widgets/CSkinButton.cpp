#include "widgets/CSkinButton.h"

#include <QPainter>

#include "widgets/SkinLibrary.h"

CSkinButton::CSkinButton(QWidget* parent) : QAbstractButton(parent) {
    setAutoFillBackground(false);
}

void CSkinButton::LoadBitmaps(int normal, int pressed, int focus, int disabled) {
    LoadBitmaps({normal, pressed, focus, disabled});
}

void CSkinButton::LoadBitmaps(const std::array<int, 4>& ids) {
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
    ImagesChanged();
}

void CSkinButton::SizeToContent() {
    if (Has(kNormal)) {
        resize(images_[kNormal].size());
    }
}

int CSkinButton::ChosenSlot() const {
    if (isDown() && Has(kPressed)) {
        return kPressed;
    }
    if (hasFocus() && Has(kFocus)) {
        return kFocus;
    }
    if (!isEnabled() && Has(kDisabled)) {
        return kDisabled;
    }
    return Has(kNormal) ? kNormal : -1;
}

QSize CSkinButton::sizeHint() const {
    return Has(kNormal) ? images_[kNormal].size() : QAbstractButton::sizeHint();
}

void CSkinButton::paintEvent(QPaintEvent* /*event*/) {
    const int slot = ChosenSlot();
    if (slot < 0) {
        return;
    }
    QPainter painter(this);
    painter.drawImage(0, 0, Image(slot));
}
