#include "widgets/CTqButton.h"

#include <QPainter>

#include "widgets/BitmapToRegion.h"

CTqButton::CTqButton(QWidget* parent) : CSkinButton(parent) {
    // The image covers the button: nothing to erase first.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CTqButton::ImagesChanged() {
    for (std::size_t i = 0; i < regions_.size(); ++i) {
        const QImage& image = Image(static_cast<int>(i));
        regions_[i] = image.isNull() ? std::nullopt : qv::BitmapToRegion(image);
    }
}

int CTqButton::ChosenSlot() const {
    if (!isEnabled() && Has(kDisabled)) {
        return kDisabled;
    }
    if (isDown() && Has(kPressed)) {
        return kPressed;
    }
    if (hasFocus() && Has(kFocus)) {
        return kFocus;
    }
    return Has(kNormal) ? kNormal : -1;
}

QSize CTqButton::sizeHint() const {
    const int slot = ChosenSlot();
    return slot < 0 ? CSkinButton::sizeHint() : Image(slot).size();
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
