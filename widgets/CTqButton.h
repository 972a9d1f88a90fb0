// Key of the hard-key panel: shows one of four skin images by state, takes the image's size
// and its shape. Pure white pixels are neither drawn nor clickable, so clicks on a round key's
// corners reach the panel beneath.
#pragma once

#include <QRegion>
#include <array>
#include <optional>

#include "widgets/CSkinButton.h"

class CTqButton : public CSkinButton {
    Q_OBJECT
  public:
    explicit CTqButton(QWidget* parent = nullptr);

    // First match: disabled, pressed, focus, normal; -1 for none.
    int ChosenSlot() const override;
    const std::optional<QRegion>& Region(int slot) const {
        return regions_[static_cast<std::size_t>(slot)];
    }

    QSize sizeHint() const override;

  protected:
    // Every loaded image gets its region once, never while drawing.
    void ImagesChanged() override;
    void paintEvent(QPaintEvent* event) override;

  private:
    std::array<std::optional<QRegion>, 4> regions_;
};
