#include "widgets/CTqButton.h"

#include <QPainter>

#include "widgets/BitmapToRegion.h"
#include "widgets/SkinLibrary.h"

CTqButton::CTqButton(QWidget* parent) : QAbstractButton(parent) {
    // The image covers the button: nothing to erase first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAutoFillBackground(false);
}

void CTqButton::LoadBitmaps(int normal, int pressed, int focus, int disabled) {
    const std::array<int, 4> ids{normal, pressed, focus, disabled};
    std::array<QImage, 4> images;
    for (std::size_t i = 0; i < ids.size(); ++i) {
        if (ids[i] != 0) {
            images[i] = qv::SkinImage(ids[i]);
        }
    }
    SetImages(images);
}

void CTqButton::SetImages(const std::array<QImage, 4>& images) {
    for (std::size_t i = 0; i < images.size(); ++i) {
        images_[i] = images[i];
        regions_[i] = images_[i].isNull() ? std::nullopt : qv::BitmapToRegion(images_[i]);
    }
}

int CTqButton::ChosenSlot() const {
    const auto has = [this](Slot s) { return !images_[s].isNull(); };
    if (!isEnabled() && has(kDisabled)) {
        return kDisabled;
    }
    if (isDown() && has(kPressed)) {
        return kPressed;
    }
    if (hasFocus() && has(kFocus)) {
        return kFocus;
    }
    return has(kNormal) ? kNormal : -1;
}

QSize CTqButton::sizeHint() const {
    const int slot = ChosenSlot();
    return slot < 0 ? QAbstractButton::sizeHint() : Image(slot).size();
}

void CTqButton::paintEvent(QPaintEvent* /*event*/) {
    const int slot = ChosenSlot();
    if (slot < 0) {
        return;  // no usable image: keep size and shape, draw nothing
    }
    const QImage& image = Image(slot);
    if (size() != image.size()) {
        resize(image.size());
    }
    const auto& region = Region(slot);
    if (region && region->isEmpty()) {
        // An all-white image: Qt cannot mask a widget to nothing, so let input and the
        // panel picture through instead.
        setAttribute(Qt::WA_TransparentForMouseEvents, true);
        setAttribute(Qt::WA_OpaquePaintEvent, false);
        return;
    }
    if (region) {
        setAttribute(Qt::WA_TransparentForMouseEvents, false);
        setAttribute(Qt::WA_OpaquePaintEvent, true);
        if (mask() != *region) {
            setMask(*region);
        }
    }
    QPainter painter(this);
    if (region) {
        painter.setClipRegion(*region);
    }
    painter.drawImage(0, 0, image);
}
