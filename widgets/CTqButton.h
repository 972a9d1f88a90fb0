// Key of the hard-key panel: shows one of four skin images by state, takes the image's size
// and its shape. Pure white pixels are neither drawn nor clickable, so clicks on a round key's
// corners reach the panel beneath.
#pragma once

#include <QAbstractButton>
#include <QImage>
#include <QRegion>
#include <array>
#include <optional>

class CTqButton : public QAbstractButton {
    Q_OBJECT
  public:
    enum Slot { kNormal = 0, kPressed = 1, kFocus = 2, kDisabled = 3 };

    explicit CTqButton(QWidget* parent = nullptr);

    // Skin numbers for normal, pressed, focus and disabled; 0 = no image for that state.
    // Replaces every image and region; does not redraw.
    void LoadBitmaps(int normal, int pressed, int focus, int disabled);
    // The same from images already at hand (tests, artwork not in the skin).
    void SetImages(const std::array<QImage, 4>& images);

    // Which image the next paint shows, -1 for none (first match: disabled, pressed, focus,
    // normal).
    int ChosenSlot() const;
    const QImage& Image(int slot) const { return images_[static_cast<std::size_t>(slot)]; }
    const std::optional<QRegion>& Region(int slot) const {
        return regions_[static_cast<std::size_t>(slot)];
    }

    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    std::array<QImage, 4> images_;
    std::array<std::optional<QRegion>, 4> regions_;
};
