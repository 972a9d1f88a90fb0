// Four-image bitmap button (normal, pressed, focus, disabled) drawn at the image's own size
// from the top-left corner, without shaping: the soft-key panel's keys and the knob. The
// hard-key panel's shaped key (CTqButton) builds on it.
#pragma once

#include <QAbstractButton>
#include <QImage>
#include <array>

class CSkinButton : public QAbstractButton {
    Q_OBJECT
  public:
    enum Slot { kNormal = 0, kPressed = 1, kFocus = 2, kDisabled = 3 };

    explicit CSkinButton(QWidget* parent = nullptr);

    // Skin numbers for normal, pressed, focus and disabled; 0 = no image for that state.
    // Replaces every image; does not redraw.
    void LoadBitmaps(int normal, int pressed, int focus, int disabled);
    void LoadBitmaps(const std::array<int, 4>& ids);
    // The same from images already at hand (tests, artwork not in the skin).
    void SetImages(const std::array<QImage, 4>& images);
    // Resizes the button to its normal image.
    void SizeToContent();

    // Which image the next paint shows, -1 for none. First match: pressed (held down),
    // focus, disabled, normal.
    virtual int ChosenSlot() const;
    const QImage& Image(int slot) const { return images_[static_cast<std::size_t>(slot)]; }

    QSize sizeHint() const override;

  protected:
    // After every change of images, before any redraw.
    virtual void ImagesChanged() {}
    bool Has(Slot slot) const { return !images_[slot].isNull(); }
    void paintEvent(QPaintEvent* event) override;

  private:
    std::array<QImage, 4> images_;
};
