// Dialog units to pixels. The dialogs are laid out in the units of their templates; one unit
// is a quarter of the dialog font's average character width across and an eighth of its
// height down.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

class QWidget;

namespace qv {

class DialogUnits {
  public:
    // The dialog font of a template: "MS Shell Dlg" at pointSize, a sans-serif stand-in where
    // that face is missing.
    static QFont DialogFont(int pointSize);

    explicit DialogUnits(const QFont& font);

    int BaseX() const { return baseX_; }
    int BaseY() const { return baseY_; }

    int X(int du) const;
    int Y(int du) const;
    QRect Rect(int x, int y, int w, int h) const;
    QSize Size(int w, int h) const;

    // Gives dialog the template font and a fixed client size of w x h units.
    void ApplyTemplate(QWidget& dialog, int w, int h) const;
    // Places child at x, y with size w x h units.
    void Place(QWidget& child, int x, int y, int w, int h) const;

  private:
    QFont font_;
    int baseX_;
    int baseY_;
};

// Marks a control with its template id: property "ctrlId" and object name "ctrl<id>".
void TagControl(QWidget& control, int id);

}  // namespace qv
