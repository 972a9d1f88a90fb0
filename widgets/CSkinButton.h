// Four-image bitmap button (normal, pressed, focus, disabled) drawn at the image's own size
// from the top-left corner, without shaping. The knob is one; soft-key panel keys may be too.
#pragma once

#include <QAbstractButton>
#include <QImage>
#include <array>

class CSkinButton : public QAbstractButton {
    Q_OBJECT
  public:
    enum Slot { kNormal = 0, kPressed = 1, kFocus = 2, kDisabled = 3 };

    explicit CSkinButton(QWidget* parent = nullptr);

    // Skin numbers; 0 = no image for that state. Does not redraw.
    void LoadBitmaps(int normal, int pressed, int focus, int disabled);
    void SetImages(const std::array<QImage, 4>& images);
    // Resizes the button to its normal image.
    void SizeToContent();

    // First match: pressed (held down), focus, disabled, normal; -1 for none.
    int ChosenSlot() const;
    const QImage& Image(int slot) const { return images_[static_cast<std::size_t>(slot)]; }

    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    std::array<QImage, 4> images_;
};
