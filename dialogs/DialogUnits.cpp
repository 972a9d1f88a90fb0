#include "dialogs/DialogUnits.h"

#include <QFontMetrics>
#include <QString>
#include <QWidget>

namespace qv {
namespace {

// The classic base of an 8-point system font, for a font database with no usable face.
constexpr int kFallbackBaseX = 6;
constexpr int kFallbackBaseY = 13;

// du * base / div, rounded to the nearest pixel with halves away from zero.
int MulDivRound(int du, int base, int div) {
    const long long p = static_cast<long long>(du) * base;
    const long long half = div / 2;
    return static_cast<int>(p >= 0 ? (p + half) / div : -((-p + half) / div));
}

}  // namespace

QFont DialogUnits::DialogFont(int pointSize) {
    QFont font(QStringLiteral("MS Shell Dlg"), pointSize);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

DialogUnits::DialogUnits(const QFont& font) : font_(font) {
    const QFontMetrics metrics(font);
    const int width = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    // Average width of the 52 letters, rounded.
    baseX_ = (width / 26 + 1) / 2;
    baseY_ = metrics.height();
    if (baseX_ <= 0 || baseY_ <= 0) {
        baseX_ = kFallbackBaseX;
        baseY_ = kFallbackBaseY;
    }
}

int DialogUnits::X(int du) const {
    return MulDivRound(du, baseX_, 4);
}

int DialogUnits::Y(int du) const {
    return MulDivRound(du, baseY_, 8);
}

QRect DialogUnits::Rect(int x, int y, int w, int h) const {
    return QRect(X(x), Y(y), X(w), Y(h));
}

QSize DialogUnits::Size(int w, int h) const {
    return QSize(X(w), Y(h));
}

void DialogUnits::ApplyTemplate(QWidget& dialog, int w, int h) const {
    dialog.setFont(font_);
    dialog.setFixedSize(Size(w, h));
}

void DialogUnits::Place(QWidget& child, int x, int y, int w, int h) const {
    child.setGeometry(Rect(x, y, w, h));
}

void TagControl(QWidget& control, int id) {
    control.setProperty("ctrlId", id);
    control.setObjectName(QStringLiteral("ctrl%1").arg(id));
}

}  // namespace qv
