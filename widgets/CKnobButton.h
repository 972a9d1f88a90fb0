// Rotary knob of both panels: follows the pointer's bearing around its centre in twelve
// 30-degree steps and sends one "KEYP:RIGH" or "KEYP:LEFT" through its owner per step. The
// mouse wheel turns it too, a step a notch.
#pragma once

#include <QPoint>
#include <array>

#include "widgets/CSkinButton.h"

class CRemoteDlg;

class CKnobButton : public CSkinButton {
    Q_OBJECT
  public:
    explicit CKnobButton(QWidget* parent = nullptr);

    void SetOwner(CRemoteDlg* owner) { owner_ = owner; }
    // Index 0: disabled image; 1..12: the knob at positions 1..12. Takes the centre from the
    // current size, so call it once the knob has its final size. Loads nothing.
    void SetImages(const std::array<int, 13>& ids);
    // Loads position-1 (or the current position's) images: normal, pressed and focus, plus the
    // disabled image.
    void LoadPositionImages();

    // Whole degrees 0..359, clockwise from straight up, of a client point around the centre.
    int AngleFromPoint(int x, int y) const;
    // Moves to the sector of angle, sending one command per step crossed.
    void UpdatePosition(int angle);
    static int PositionFromAngle(int angle);
    // Signed steps from one position to another (+ clockwise); one step across the top.
    static int StepsBetween(int from, int to);
    // Turns by whole steps (+ clockwise), one command and one image position per step.
    void Step(int steps);

    int Position() const { return position_; }
    QPoint Center() const { return center_; }
    bool Turning() const { return turning_; }
    const std::array<int, 13>& ImageIds() const { return ids_; }

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    // One notch of the wheel is one step: up turns clockwise.
    void wheelEvent(QWheelEvent* event) override;

  private:
    CRemoteDlg* owner_ = nullptr;
    std::array<int, 13> ids_{};
    int position_ = 1;
    QPoint center_;
    bool turning_ = false;
    int wheelRest_ = 0;  // eighths of a degree not yet a whole notch (fine-grained wheels)
};
