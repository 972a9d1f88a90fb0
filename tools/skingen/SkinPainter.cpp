#include "tools/skingen/SkinPainter.h"

#include <QFont>
#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QStringList>
#include <algorithm>
#include <cmath>
#include <numbers>
#include <span>

#include "panels/PanelKey.h"
#include "panels/hardkey/HardKeyTable.h"
#include "panels/softkey/SoftKeyTable.h"

namespace skingen {

using qv::skin::Entry;
using qv::skin::Face;
using qv::skin::Kind;
using qv::skin::Panel;
using qv::skin::State;

namespace {

constexpr QRgb kWhite = 0xFFFFFFFFu;

const QColor kDesk(222, 223, 226);    // beside the housing's rounded corners
const QColor kHousing(44, 47, 52);    // moulded plastic
const QColor kPlate(35, 38, 42);      // recessed areas keys sit in
const QColor kBezel(24, 26, 29);      // around the screen
const QColor kGlass(9, 13, 18);       // the screen when nothing is drawn
const QColor kAccent(255, 178, 56);   // focus ring, knob pointer
const QColor kSecond(128, 190, 255);  // second-function legends

struct Design {
    int width, height;  // 100 % size of the panel picture
    QRect screen;       // ScreenRect at 100 %
};

Design DesignOf(Panel panel) {
    if (panel == Panel::HardKey) {
        return {1023, 679, QRect(111, 25, 800, 480)};
    }
    return {1282, 767, QRect(41, 39, 800, 600)};
}

// The panel's keys as its window builds them.
std::span<const qv::PanelKey> KeysOf(Panel panel) {
    if (panel == Panel::HardKey) {
        return qv::hardkey::kKeys;
    }
    return qv::softkey::kKeys;
}

// The knob's row at 100 %: its design place and size.
const qv::skin::KnobSkin& DesignKnob(Panel panel) {
    for (const qv::skin::KnobSkin& knob : qv::skin::kKnobs) {
        if (knob.panel == panel && knob.scale == 0) {
            return knob;
        }
    }
    return qv::skin::kKnobs[0];
}

// A recess keys sit in: around the keys firstId to lastId (their 100 % images), the moulding's
// margins on each side, at 100 %.
struct Plate {
    Panel panel;
    int firstId, lastId;
    int left, top, right, bottom;
    double radius;
};

constexpr Plate kPlates[] = {
    {Panel::HardKey, 1073, 1078, 11, 11, 11, 12, 10},  // left column
    {Panel::HardKey, 1079, 1084, 11, 11, 11, 12, 10},  // right column
    {Panel::HardKey, 1085, 1098, 12, 7, 8, 3, 10},     // numeric pad
    {Panel::HardKey, 1099, 1100, 8, 7, 8, 8, 16},      // arrow pair
    {Panel::SoftKey, 1013, 1021, 8, 10, 9, 8, 10},     // soft keys, uniform from top to bottom
    {Panel::SoftKey, 1022, 1028, 10, 7, 11, 9, 10},    // function row
    {Panel::SoftKey, 1029, 1042, 11, 9, 10, 10, 10},   // numeric pad
};

// The plate's rectangle at 100 %.
QRect PlateRect(const Plate& plate) {
    QRect keys;
    for (const qv::PanelKey& key : KeysOf(plate.panel)) {
        if (key.id >= plate.firstId && key.id <= plate.lastId) {
            const qv::skin::ImageSet& image = key.skin->sets[0];
            keys |= QRect(key.skin->x, key.skin->y, image.width, image.height);
        }
    }
    return keys.adjusted(-plate.left, -plate.top, plate.right, plate.bottom);
}

// Never pure white inside artwork: pure white is the transparent colour of key images.
void NoPureWhite(QImage& image) {
    for (int y = 0; y < image.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if ((row[x] & 0x00FFFFFFu) == 0x00FFFFFFu && qAlpha(row[x]) != 0) {
                row[x] = qRgba(254, 254, 254, qAlpha(row[x]));
            }
        }
    }
}

QFont LabelFont(double pixels, bool bold = true) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setStretch(QFont::SemiCondensed);
    font.setWeight(bold ? QFont::Bold : QFont::DemiBold);
    font.setPixelSize(std::max(1, static_cast<int>(std::lround(pixels))));
    font.setHintingPreference(QFont::PreferFullHinting);
    return font;
}

// Largest font up to maxPx that fits text into width; 0 if none from minPx up does.
double FitPixels(const QStringList& lines, double width, double height, double maxPx,
                 double minPx) {
    for (int half = 0; maxPx - 0.5 * half >= minPx; ++half) {
        const double px = maxPx - 0.5 * half;
        const QFontMetricsF fm(LabelFont(px));
        double w = 0;
        for (const QString& l : lines) {
            w = std::max(w, fm.horizontalAdvance(l));
        }
        if (w <= width && fm.height() * 0.92 * lines.size() <= height) {
            return px;
        }
    }
    return 0;
}

void DrawLines(QPainter& p, const QRectF& box, const QStringList& lines, double px,
               const QColor& colour) {
    const QFont font = LabelFont(px);
    p.setFont(font);
    p.setPen(colour);
    const QFontMetricsF fm(font);
    const double lineH = fm.height() * 0.92;
    double y = box.center().y() - lineH * lines.size() / 2.0;
    for (const QString& l : lines) {
        p.drawText(QRectF(box.left(), y, box.width(), lineH), Qt::AlignCenter, l);
        y += lineH;
    }
}

// One line, or two split after the slash, whichever gives the larger type.
void DrawLegend(QPainter& p, const QRectF& box, const QString& text, double maxPx,
                const QColor& colour) {
    const double minPx = 5.0;
    QStringList one{text};
    double best = FitPixels(one, box.width(), box.height(), maxPx, minPx);
    QStringList lines = one;
    // Break after a slash, else between words run together ("QuickSave").
    int cut = text.indexOf(QLatin1Char('/')) + 1;
    if (cut <= 0) {
        for (int i = 1; i < text.size(); ++i) {
            if (text[i].isUpper() && text[i - 1].isLower()) {
                cut = i;
            }
        }
    }
    if (cut > 1 && cut < text.size() && text != QStringLiteral("+/-")) {
        const QStringList two{text.left(cut), text.mid(cut)};
        const double px = FitPixels(two, box.width(), box.height(), maxPx, minPx);
        if (px > best * 1.15) {
            best = px;
            lines = two;
        }
    }
    if (best <= 0) {
        best = minPx;
    }
    DrawLines(p, box, lines, best, colour);
}

QPainterPath Triangle(const QPointF& c, double r, double degrees) {
    QPainterPath path;
    for (int i = 0; i < 3; ++i) {
        const double a = (degrees + 120.0 * i) * std::numbers::pi / 180.0;
        const QPointF pt(c.x() + r * std::sin(a), c.y() - r * std::cos(a));
        i == 0 ? path.moveTo(pt) : path.lineTo(pt);
    }
    path.closeSubpath();
    return path;
}

struct KeyColours {
    QColor top, bottom, skirt, label;
};

KeyColours ColoursFor(Face face) {
    switch (face) {
        case Face::Digit:
            return {QColor(124, 129, 137), QColor(98, 102, 110), QColor(58, 61, 66),
                    QColor(246, 247, 249)};
        case Face::Enter:
            return {QColor(70, 146, 104), QColor(46, 112, 76), QColor(28, 70, 47),
                    QColor(240, 252, 244)};
        case Face::Escape:
            return {QColor(170, 78, 70), QColor(132, 54, 48), QColor(84, 33, 29),
                    QColor(252, 240, 238)};
        case Face::Function:
        case Face::Arrow:
        case Face::Soft:
        case Face::Nav:
            break;
    }
    return {QColor(90, 95, 103), QColor(66, 70, 77), QColor(36, 38, 43), QColor(236, 238, 241)};
}

QColor Grey(const QColor& c, double towards, const QColor& target) {
    const int g = qGray(c.rgb());
    const QColor flat(g, g, g);
    return QColor::fromRgbF(flat.redF() + (target.redF() - flat.redF()) * towards,
                            flat.greenF() + (target.greenF() - flat.greenF()) * towards,
                            flat.blueF() + (target.blueF() - flat.blueF()) * towards);
}

}  // namespace

double ScaleFactor(int scale) {
    switch (scale) {
        case 1:
            return static_cast<double>(0.85f);
        case 2:
            return static_cast<double>(0.7f);
        default:
            return 1.0;
    }
}

int Scaled(int length, int scale) {
    return static_cast<int>(length * ScaleFactor(scale));
}

const QImage& SkinPainter::Background(Panel panel, int scale) {
    int number = 0;
    QSize size;
    for (const auto& p : qv::skin::kPlain) {
        if (p.kind == Kind::Background && p.panel == panel && p.scale == scale) {
            number = p.number;
            size = QSize(p.width, p.height);
        }
    }
    if (const auto it = backgrounds_.find(number); it != backgrounds_.end()) {
        return it->second;
    }
    const Design d = DesignOf(panel);
    const double f = ScaleFactor(scale);
    QImage img(size, QImage::Format_RGB32);
    img.fill(kDesk);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);

    // Housing: moulded shell, lighter rim catching the light from above.
    const QRectF shell(1.5, 1.5, size.width() - 3.0, size.height() - 3.0);
    const double radius = 26.0 * f;
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(20, 21, 24));
    p.drawRoundedRect(shell, radius, radius);
    QLinearGradient rim(0, 0, 0, size.height());
    rim.setColorAt(0.0, QColor(92, 97, 104));
    rim.setColorAt(0.04, kHousing.lighter(112));
    rim.setColorAt(0.5, kHousing);
    rim.setColorAt(1.0, kHousing.darker(125));
    p.setBrush(rim);
    p.drawRoundedRect(shell.adjusted(1.5, 1.5, -1.5, -2.5), radius - 1.5, radius - 1.5);
    p.setBrush(kHousing);
    const double lip = 7.0 * f;
    p.drawRoundedRect(shell.adjusted(lip, lip, -lip, -lip), radius - lip * 0.6, radius - lip * 0.6);

    const auto S = [f](double v) { return v * f; };
    const auto SR = [&](double x, double y, double w, double h) {
        return QRectF(S(x), S(y), S(w), S(h));
    };
    const auto plate = [&](const QRectF& r, double rad) {
        p.setPen(QPen(QColor(62, 66, 72), 1.0));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(r.translated(0, 1.0), rad, rad);
        p.setPen(QPen(QColor(22, 24, 27), 1.0));
        p.setBrush(kPlate);
        p.drawRoundedRect(r, rad, rad);
    };

    // Screen bezel and dark glass.
    const QRectF screen(S(d.screen.x()), S(d.screen.y()), S(d.screen.width()),
                        S(d.screen.height()));
    const double bz = (panel == Panel::HardKey ? 7.0 : 12.0) * f;
    p.setPen(QPen(QColor(70, 74, 80), 1.0));
    p.setBrush(kBezel);
    p.drawRoundedRect(screen.adjusted(-bz, -bz, bz, bz), 9.0 * f, 9.0 * f);
    p.setPen(QPen(QColor(12, 13, 15), 2.0));
    p.setBrush(kGlass);
    p.drawRect(screen.adjusted(-1, -1, 1, 1));

    for (const Plate& pl : kPlates) {
        if (pl.panel == panel) {
            const QRect r = PlateRect(pl);
            plate(SR(r.x(), r.y(), r.width(), r.height()), pl.radius);
        }
    }
    if (panel == Panel::SoftKey) {
        // Cursor ring around the knob, reaching the arrow keys' outer edges.
        const qv::skin::KnobSkin& knob = DesignKnob(panel);
        const QPointF c(S(knob.x + knob.size / 2.0), S(knob.y + knob.size / 2.0));
        p.setPen(QPen(QColor(22, 24, 27), 1.0));
        p.setBrush(kPlate);
        p.drawEllipse(c, S(150), S(150));
        p.setPen(QPen(QColor(62, 66, 72), 1.0));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(c, S(150) + 1.0, S(150) + 1.0);
    }

    // Wells the keys sit in, at the keys' laid-out places and image sizes.
    for (const qv::PanelKey& key : KeysOf(panel)) {
        const qv::skin::KeySkin& k = *key.skin;
        const auto& set = k.sets[static_cast<std::size_t>(scale)];
        const QRectF r(Scaled(k.x, scale), Scaled(k.y, scale), set.width, set.height);
        const double rr = std::min(r.width(), r.height()) * 0.22;
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(16, 17, 20));
        p.drawRoundedRect(r.adjusted(-1.5, -1.5, 1.5, 1.5), rr + 1.5, rr + 1.5);
        p.setPen(QPen(QColor(70, 74, 80), 1.0));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(r.adjusted(-2.0, -1.0, 2.0, 2.5), rr + 2.0, rr + 2.0);
    }

    // Dial marks around the knob, one per position.
    for (const qv::skin::KnobSkin& k : qv::skin::kKnobs) {
        if (k.panel != panel || k.scale != scale) {
            continue;
        }
        const double x0 = Scaled(k.x, scale);
        const double y0 = Scaled(k.y, scale);
        // The whole-pixel centre the knob control turns around.
        const int half = k.size / 2;
        const QPointF c(x0 + half, y0 + half);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(18, 19, 22));
        p.drawEllipse(c, k.size * 0.465, k.size * 0.465);
        for (int i = 0; i < 12; ++i) {
            const double a = i * 30.0 * std::numbers::pi / 180.0;
            const double r0 = k.size * 0.475;
            const double r1 = k.size * (i == 0 ? 0.5 : 0.495);
            p.setPen(QPen(i == 0 ? QColor(200, 204, 210) : QColor(130, 135, 142),
                          std::max(1.0, k.size / 90.0), Qt::SolidLine, Qt::RoundCap));
            p.drawLine(QPointF(c.x() + r0 * std::sin(a), c.y() - r0 * std::cos(a)),
                       QPointF(c.x() + r1 * std::sin(a), c.y() - r1 * std::cos(a)) -
                           QPointF(std::sin(a), -std::cos(a)) * 1.0);
        }
    }
    p.end();
    NoPureWhite(img);
    return backgrounds_.emplace(number, std::move(img)).first->second;
}

QImage SkinPainter::PaintKey(const Entry& e) {
    const qv::skin::KeySkin& k = *e.key;
    const bool hard = e.panel == Panel::HardKey;
    const QRect place(Scaled(k.x, e.scale), Scaled(k.y, e.scale), e.width, e.height);
    // Painted over the housing beneath it, so edges blend with what shows around the key.
    QImage img = Background(e.panel, e.scale).copy(place);
    if (img.size() != place.size()) {
        img = QImage(place.size(), QImage::Format_RGB32);
        img.fill(kPlate);
    }

    const double w = e.width;
    const double h = e.height;
    const double unit = std::min(w, h) / 45.0;  // 1 at a typical key
    const double rr = std::min(w, h) * 0.22;
    const bool pressed = e.state == State::Pressed;
    const bool disabled = e.state == State::Disabled;
    KeyColours c = ColoursFor(k.face);
    if (disabled) {
        c.top = Grey(c.top, 0.45, kHousing);
        c.bottom = Grey(c.bottom, 0.45, kHousing);
        c.skirt = Grey(c.skirt, 0.3, kHousing);
        c.label = QColor(120, 124, 130);
    } else if (pressed) {
        c.top = c.top.darker(118);
        c.bottom = c.bottom.darker(112);
        c.label = c.label.darker(108);
    }

    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    const QRectF outline(0.5, 0.5, w - 1.0, h - 1.0);
    const double travel = std::max(1.0, 2.0 * unit);  // how far a press pushes the cap in
    // Skirt: the side of the key, visible below the cap until it is pushed in.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(14, 15, 17));
    p.drawRoundedRect(outline, rr, rr);
    p.setBrush(c.skirt);
    p.drawRoundedRect(outline.adjusted(0.5, 0.5, -0.5, -0.5), rr, rr);
    const QRectF cap = pressed ? outline.adjusted(1.0, travel + 0.5, -1.0, -0.8)
                               : outline.adjusted(1.0, 0.8, -1.0, -travel - 0.8);
    QLinearGradient g(0, cap.top(), 0, cap.bottom());
    g.setColorAt(0.0, pressed ? c.bottom : c.top.lighter(108));
    g.setColorAt(0.45, pressed ? c.bottom : c.top);
    g.setColorAt(1.0, pressed ? c.top.darker(104) : c.bottom);
    p.setBrush(g);
    p.drawRoundedRect(cap, rr * 0.9, rr * 0.9);
    if (!disabled) {
        // Light from above: a bright upper edge when up, a shadowed one when pushed in.
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(pressed ? QColor(0, 0, 0, 90) : QColor(255, 255, 255, 60), 1.0));
        p.drawRoundedRect(cap.adjusted(0.8, 0.8, -0.8, -0.8), rr * 0.8, rr * 0.8);
    }
    if (e.state == State::Focus) {
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(kAccent, std::max(1.5, 1.8 * unit)));
        p.drawRoundedRect(cap.adjusted(1.5, 1.5, -1.5, -1.5), rr * 0.75, rr * 0.75);
    }

    // Legend.
    const QString label = QString::fromUtf8(k.label.data(), static_cast<qsizetype>(k.label.size()));
    const QString second =
        QString::fromUtf8(k.second.data(), static_cast<qsizetype>(k.second.size()));
    const QRectF face = cap.adjusted(3.0 * unit, 2.0 * unit, -3.0 * unit, -2.0 * unit);
    if (k.face == Face::Arrow || k.face == Face::Soft) {
        double deg = 0;
        if (label == QStringLiteral("\u25BC")) {
            deg = 180;
        } else if (label == QStringLiteral("\u25B6")) {
            deg = 90;
        } else if (label == QStringLiteral("\u25C0") || k.face == Face::Soft) {
            deg = 270;
        }
        const double r = std::min(face.width(), face.height()) * (k.face == Face::Soft ? 0.2 : 0.3);
        p.setPen(Qt::NoPen);
        p.setBrush(k.face == Face::Soft
                       ? QColor(c.label.red(), c.label.green(), c.label.blue(), 110)
                       : c.label);
        p.drawPath(Triangle(face.center(), r, deg));
    } else if (!second.isEmpty()) {
        const QRectF top(face.left() - 1.0 * unit, face.top(), face.width() + 2.0 * unit,
                         face.height() * 0.36);
        const QRectF bottom(face.left(), top.bottom(), face.width(), face.bottom() - top.bottom());
        DrawLegend(p, top, second, 10.0 * unit, disabled ? c.label : kSecond);
        DrawLegend(p, bottom, label, 19.0 * unit, c.label);
    } else {
        const double maxPx = k.face == Face::Digit ? 22.0 * unit : 0.34 * std::min(h, w * 0.6);
        DrawLegend(p, face, label, maxPx, c.label);
    }
    p.end();
    NoPureWhite(img);

    if (hard) {
        // Outside the moulding is pure white: the button's shape and its click area.
        QImage shape(img.size(), QImage::Format_ARGB32_Premultiplied);
        shape.fill(Qt::transparent);
        QPainter sp(&shape);
        sp.setRenderHint(QPainter::Antialiasing);
        sp.setPen(Qt::NoPen);
        sp.setBrush(Qt::black);
        sp.drawRoundedRect(outline, rr, rr);
        sp.end();
        for (int y = 0; y < img.height(); ++y) {
            auto* row = reinterpret_cast<QRgb*>(img.scanLine(y));
            const auto* cover = reinterpret_cast<const QRgb*>(shape.constScanLine(y));
            for (int x = 0; x < img.width(); ++x) {
                if (qAlpha(cover[x]) < 128) {
                    row[x] = kWhite;
                }
            }
        }
    }
    return img;
}

QImage SkinPainter::PaintKnob(const Entry& e) {
    const qv::skin::KnobSkin* knob = nullptr;
    for (const auto& k : qv::skin::kKnobs) {
        if (k.panel == e.panel && k.scale == e.scale && k.size == e.width) {
            knob = &k;
        }
    }
    const int s = e.width;
    QImage img;
    if (knob != nullptr) {
        img = Background(e.panel, e.scale)
                  .copy(Scaled(knob->x, e.scale), Scaled(knob->y, e.scale), s, s);
    }
    if (img.size() != QSize(s, s)) {
        img = QImage(s, s, QImage::Format_RGB32);
        img.fill(kHousing);
    }
    const bool disabled = e.position == 0;
    const int position = disabled ? 1 : e.position;
    const double turn = 30.0 * (position - 1);
    // The whole-pixel turning centre the knob control uses.
    const int half = s / 2;
    const QPointF c(half, half);
    const double R = s * 0.43;
    const double r = s * 0.31;

    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 110));
    p.drawEllipse(c + QPointF(0, s * 0.02), R + 1.5, R + 1.5);

    // Grip: knurled skirt whose ridges turn with the knob.
    QRadialGradient skirt(c - QPointF(s * 0.1, s * 0.14), R * 1.3);
    skirt.setColorAt(0.0, disabled ? QColor(78, 80, 84) : QColor(96, 100, 108));
    skirt.setColorAt(1.0, disabled ? QColor(38, 39, 42) : QColor(30, 32, 36));
    p.setBrush(skirt);
    p.drawEllipse(c, R, R);
    p.save();
    p.translate(c);
    p.rotate(turn);
    const int ridges = 40;
    for (int i = 0; i < ridges; ++i) {
        p.save();
        p.rotate(360.0 * i / ridges);
        p.setPen(QPen(QColor(0, 0, 0, disabled ? 70 : 120), std::max(1.0, s / 110.0)));
        p.drawLine(QPointF(0, -R + 0.8), QPointF(0, -r - s * 0.03));
        p.setPen(QPen(QColor(255, 255, 255, disabled ? 14 : 26), 1.0));
        p.drawLine(QPointF(1.2, -R + 1.5), QPointF(1.2, -r - s * 0.035));
        p.restore();
    }
    p.restore();
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(10, 10, 12), 1.2));
    p.drawEllipse(c, R, R);

    // Cap: brushed metal lit from the upper left; the light stays put as the knob turns.
    QRadialGradient cap(c - QPointF(r * 0.45, r * 0.55), r * 1.6);
    cap.setColorAt(0.0, disabled ? QColor(120, 122, 126) : QColor(196, 200, 206));
    cap.setColorAt(0.55, disabled ? QColor(84, 86, 90) : QColor(120, 125, 133));
    cap.setColorAt(1.0, disabled ? QColor(54, 55, 58) : QColor(60, 63, 70));
    p.setPen(QPen(QColor(20, 21, 24), 1.0));
    p.setBrush(cap);
    p.drawEllipse(c, r, r);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(255, 255, 255, disabled ? 30 : 70), 1.0));
    p.drawEllipse(c, r - 1.5, r - 1.5);

    // Pointer notch and finger dimple, at 30 degrees a step clockwise from straight up.
    p.save();
    p.translate(c);
    p.rotate(turn);
    const double pw = std::max(2.0, s * 0.035);
    p.setPen(QPen(QColor(0, 0, 0, 140), pw + 1.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(0, -R + s * 0.02), QPointF(0, -r * 0.55));
    p.setPen(QPen(disabled ? QColor(140, 142, 146) : kAccent, pw, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(0, -R + s * 0.025), QPointF(0, -r * 0.55));
    QRadialGradient dimple(QPointF(0, r * 0.35), r * 0.22);
    dimple.setColorAt(0.0, QColor(0, 0, 0, disabled ? 40 : 70));
    dimple.setColorAt(1.0, QColor(0, 0, 0, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(dimple);
    p.drawEllipse(QPointF(0, r * 0.35), r * 0.22, r * 0.22);
    p.restore();
    p.end();
    NoPureWhite(img);
    return img;
}

namespace {

// Small analyser: housing, screen with a spectrum trace, knob. Drawn in a 64-unit square.
void DrawAnalyser(QPainter& p, double size) {
    p.save();
    p.scale(size / 64.0, size / 64.0);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient body(0, 4, 0, 60);
    body.setColorAt(0.0, QColor(82, 88, 96));
    body.setColorAt(1.0, QColor(36, 39, 44));
    p.setPen(QPen(QColor(16, 17, 20), 1.5));
    p.setBrush(body);
    p.drawRoundedRect(QRectF(3, 6, 58, 52), 9, 9);
    p.setPen(QPen(QColor(12, 14, 16), 1.0));
    p.setBrush(QColor(10, 22, 30));
    p.drawRoundedRect(QRectF(8, 11, 34, 26), 2.5, 2.5);
    QPainterPath trace;
    const double pts[][2] = {{9.5, 33}, {14, 32}, {17, 33}, {20, 30}, {23, 31},  {25, 14},
                             {27, 31},  {30, 29}, {33, 32}, {36, 30}, {40.5, 32}};
    trace.moveTo(pts[0][0], pts[0][1]);
    for (const auto& pt : pts) {
        trace.lineTo(pt[0], pt[1]);
    }
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(90, 235, 140), 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(trace);
    QRadialGradient knob(QPointF(50, 25), 9);
    knob.setColorAt(0.0, QColor(200, 204, 210));
    knob.setColorAt(1.0, QColor(70, 74, 80));
    p.setPen(QPen(QColor(16, 17, 20), 1.0));
    p.setBrush(knob);
    p.drawEllipse(QPointF(51.5, 24), 6.5, 6.5);
    p.setPen(QPen(kAccent, 1.6, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(51.5, 19.5), QPointF(51.5, 22.5));
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 3; ++i) {
        p.setBrush(i == 2 ? QColor(70, 146, 104) : QColor(124, 129, 137));
        p.drawRoundedRect(QRectF(9 + i * 11.5, 43, 9, 8), 2, 2);
    }
    p.setBrush(QColor(170, 78, 70));
    p.drawRoundedRect(QRectF(46, 43, 10, 8), 2, 2);
    p.restore();
}

QImage PaintLinkIcon(bool connected, int size) {
    QImage img(size, size, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const double u = size / 16.0;
    const QColor lamp = connected ? QColor(48, 190, 92) : QColor(206, 62, 52);
    QRadialGradient g(QPointF(6 * u, 5.5 * u), 8 * u);
    g.setColorAt(0.0, lamp.lighter(150));
    g.setColorAt(1.0, lamp.darker(130));
    p.setPen(QPen(lamp.darker(200), 1.0));
    p.setBrush(g);
    p.drawEllipse(QPointF(8 * u, 8 * u), 6.8 * u, 6.8 * u);
    p.setPen(QPen(QColor(252, 252, 252), 1.7 * u, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    if (connected) {
        p.drawPolyline(QPolygonF(
            {QPointF(4.8 * u, 8.2 * u), QPointF(7.1 * u, 10.6 * u), QPointF(11.3 * u, 5.6 * u)}));
    } else {
        p.drawLine(QPointF(5.5 * u, 5.5 * u), QPointF(10.5 * u, 10.5 * u));
        p.drawLine(QPointF(10.5 * u, 5.5 * u), QPointF(5.5 * u, 10.5 * u));
    }
    p.end();
    return img;
}

QImage PaintScreen(QSize size) {
    QImage img(size, QImage::Format_RGB32);
    img.fill(kGlass);
    QPainter p(&img);
    // A dark graticule, as the instrument's screen shows before the first frame.
    p.setPen(QPen(QColor(26, 36, 44), 1.0, Qt::DotLine));
    for (int i = 1; i < 10; ++i) {
        const int x = size.width() * i / 10;
        p.drawLine(x, 0, x, size.height());
    }
    for (int i = 1; i < 8; ++i) {
        const int y = size.height() * i / 8;
        p.drawLine(0, y, size.width(), y);
    }
    p.setPen(QPen(QColor(34, 46, 56), 1.0));
    p.drawRect(0, 0, size.width() - 1, size.height() - 1);
    return img;
}

}  // namespace

QImage SkinPainter::AppIcon(int size) {
    QImage img(size, size, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    DrawAnalyser(p, size);
    p.end();
    NoPureWhite(img);
    return img;
}

QImage SkinPainter::Paint(const Entry& e) {
    switch (e.kind) {
        case Kind::Background:
            return Background(e.panel, e.scale);
        case Kind::Screen:
            return PaintScreen(QSize(e.width, e.height));
        case Kind::Key:
            return PaintKey(e);
        case Kind::Knob:
            return PaintKnob(e);
        case Kind::Icon:
            if (e.number == 128) {
                return AppIcon(e.width);
            }
            return PaintLinkIcon(e.number == 233, e.width);
    }
    return {};
}

QImage SkinPainter::Assemble(Panel panel, int scale) {
    QImage img = Background(panel, scale).copy();
    QPainter p(&img);
    const Design d = DesignOf(panel);
    const QRect screen(Scaled(d.screen.x(), scale), Scaled(d.screen.y(), scale),
                       Scaled(d.screen.width(), scale), Scaled(d.screen.height(), scale));
    p.drawImage(screen, PaintScreen(screen.size()));
    for (const qv::PanelKey& panelKey : KeysOf(panel)) {
        const qv::skin::KeySkin& k = *panelKey.skin;
        const auto& set = k.sets[static_cast<std::size_t>(scale)];
        const Entry* e = qv::skin::Find(set.ids[0]);
        QImage key = Paint(*e).convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < key.height(); ++y) {
            auto* row = reinterpret_cast<QRgb*>(key.scanLine(y));
            for (int x = 0; x < key.width(); ++x) {
                if (row[x] == kWhite) {
                    row[x] = 0;  // as the button's region leaves it out
                }
            }
        }
        p.drawImage(Scaled(k.x, scale), Scaled(k.y, scale), key);
    }
    for (const auto& k : qv::skin::kKnobs) {
        if (k.panel == panel && k.scale == scale) {
            p.drawImage(Scaled(k.x, scale), Scaled(k.y, scale), Paint(*qv::skin::Find(k.firstId)));
        }
    }
    return img;
}

QImage SkinPainter::ContactSheet() {
    const int sheetW = 1500;
    const int pad = 8;
    const int labelH = 14;
    // Panels put together, then every image with its number.
    const QImage hard = Assemble(Panel::HardKey, 0);
    const QImage soft = Assemble(Panel::SoftKey, 0);
    const QImage soft70 = Assemble(Panel::SoftKey, 2);

    struct Cell {
        QImage image;
        QString text;
        QPoint at;
    };
    std::vector<Cell> cells;
    int x = pad;
    int y = pad + hard.height() + soft.height() + soft70.height() + 4 * pad;
    int rowH = 0;
    for (const Entry& e : qv::skin::Catalogue()) {
        QImage image = Paint(e);
        if (image.width() > 420) {
            image = image.scaledToWidth(420, Qt::SmoothTransformation);
        }
        const int cw = std::max(image.width(), 44);
        if (x + cw + pad > sheetW) {
            x = pad;
            y += rowH + labelH + pad;
            rowH = 0;
        }
        cells.push_back({image, QString::number(e.number), QPoint(x, y)});
        x += cw + pad;
        rowH = std::max(rowH, image.height());
    }
    const int sheetH = y + rowH + labelH + pad;
    QImage sheet(sheetW, sheetH, QImage::Format_RGB32);
    sheet.fill(QColor(96, 100, 106));
    QPainter p(&sheet);
    int top = pad;
    for (const QImage* img : {&hard, &soft, &soft70}) {
        p.drawImage(pad, top, *img);
        top += img->height() + pad;
    }
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(11);
    p.setFont(font);
    for (const Cell& c : cells) {
        p.drawImage(c.at, c.image);
        p.setPen(QColor(250, 250, 250));
        p.drawText(
            QRect(c.at.x(), c.at.y() + c.image.height(), std::max(c.image.width(), 44), labelH),
            Qt::AlignLeft | Qt::AlignVCenter, c.text);
    }
    return sheet;
}

}  // namespace skingen
