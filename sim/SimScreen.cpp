#include "sim/SimScreen.h"

#include <QBuffer>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

#include "sim/SimFont.h"

namespace qv::sim {
namespace {

constexpr double kSignalMHz = 2437.0;
constexpr double kSignalDbm = -23.5;
constexpr double kRefDbm = 0.0;
constexpr double kDbPerDiv = 10.0;
constexpr int kDivX = 10;
constexpr int kDivY = 10;
constexpr double kMinSpanMHz = 0.1;

struct Menu {
    std::string_view key;
    std::array<std::string_view, 6> labels;
};

// Soft-key labels shown for the last menu key pressed.
constexpr std::array<Menu, 6> kMenus{{
    {"FREQ", {"Center", "Start", "Stop", "Span", "Step", "Channel"}},
    {"AMP", {"Ref Lev", "Atten", "Scale", "Units", "Preamp", "Offset"}},
    {"BW", {"RBW", "VBW", "Auto", "Sweep", "Detector", "Average"}},
    {"MARK", {"Marker 1", "Marker 2", "Delta", "To Peak", "To Center", "Off"}},
    {"TRACE", {"Trace A", "Trace B", "Max Hold", "Min Hold", "View", "Clear"}},
    {"SETUP", {"Display", "Language", "Date", "Network", "Reset", "Info"}},
}};

const Menu& MenuNamed(std::string_view key) {
    for (const Menu& m : kMenus) {
        if (m.key == key) {
            return m;
        }
    }
    return kMenus[0];
}

// The command stamp: a white start cell, 16 bits of the count (most significant first, white
// for 1), a black end cell; cells of 12 x 12 pixels along the bottom-left corner.
constexpr int kStampCell = 12;
constexpr int kStampBits = 16;
constexpr int kStampLeft = 4;
constexpr int kStampFromBottom = 14;

std::string Format(const char* fmt, double a, double b = 0.0) {
    std::array<char, 96> buf{};
    std::snprintf(buf.data(), buf.size(), fmt, a, b);
    return buf.data();
}

}  // namespace

SimScreen::SimScreen(int width, int height)
    : width_(width), height_(height), trace_(kTracePoints, -90.0) {}

void SimScreen::Apply(std::string_view command) {
    ++commands_;
    lastCommand_ = std::string(command);
    constexpr std::string_view kKey = "KEYP:";
    int x = 0;
    int y = 0;
    if (std::sscanf(lastCommand_.c_str(), "KEYP %d,%d", &x, &y) == 2) {
        touch_ = std::make_pair(x, y);
        return;
    }
    if (!command.starts_with(kKey)) {
        return;
    }
    const std::string_view key = command.substr(kKey.size());
    if (key == "LEFT") {
        marker_ = std::max(0, marker_ - kMarkerStep);
    } else if (key == "RIGH" || key == "RIGHT") {
        marker_ = std::min(kTracePoints - 1, marker_ + kMarkerStep);
    } else if (key == "UP") {
        centerMHz_ += spanMHz_ / kDivX;
    } else if (key == "DOWN") {
        centerMHz_ -= spanMHz_ / kDivX;
    } else if (key.starts_with("NUM") && key.size() == 4) {
        if (entry_.size() < 12) {
            entry_ += key[3];
        }
    } else if (key == "DEL") {
        if (!entry_.empty()) {
            entry_.pop_back();
        }
    } else if (key == "ESC") {
        entry_.clear();
    } else if (key == "ENTR") {
        if (!entry_.empty()) {
            const double value = std::atof(entry_.c_str());
            if (menu_ == "FREQ" && value > 0) {
                if (softKey_ == 4) {
                    spanMHz_ = std::max(kMinSpanMHz, value);
                } else {
                    centerMHz_ = value;
                }
            }
            entry_.clear();
        }
    } else if (key == "PEAK") {
        marker_ = static_cast<int>(std::max_element(trace_.begin(), trace_.end()) - trace_.begin());
    } else if (key == "HOLD") {
        hold_ = !hold_;
    } else if (key == "QUAL:LOW") {
        quality_ = 35;
    } else if (key == "QUAL:NORM") {
        quality_ = 65;
    } else if (key == "QUAL:HIGH") {
        quality_ = 90;
    } else if (key.starts_with("CUS") && key.size() == 4 && key[3] >= '1' && key[3] <= '7') {
        softKey_ = key[3] - '0';
    } else {
        for (const Menu& m : kMenus) {
            if (key == m.key || (key == "TRAC" && m.key == "TRACE")) {
                menu_ = std::string(m.key);
                softKey_ = 0;
            }
        }
    }
}

double SimScreen::FrequencyAt(int point) const {
    return centerMHz_ - spanMHz_ / 2 + spanMHz_ * point / (kTracePoints - 1);
}

double SimScreen::LevelAt(int point) {
    std::uniform_real_distribution<double> noise(-3.0, 3.0);
    const double offset = (FrequencyAt(point) - kSignalMHz) / std::max(spanMHz_ / 60, 0.05);
    const double signal = kSignalDbm - 6.0 * offset * offset;
    const double floor = -88.0 + noise(noise_);
    return std::max(signal + noise(noise_) * 0.2, floor);
}

QImage SimScreen::RenderImage() {
    ++frame_;
    if (!hold_ || frame_ == 1) {
        for (int i = 0; i < kTracePoints; ++i) {
            trace_[static_cast<std::size_t>(i)] = LevelAt(i);
        }
    }

    QImage image(width_, height_, QImage::Format_RGB32);
    image.fill(QColor(12, 16, 22));
    QPainter p(&image);
    const QColor text(214, 222, 230);
    const QColor dim(130, 146, 160);
    const QColor accent(240, 200, 64);

    // Header: model and settings.
    p.fillRect(0, 0, width_, 44, QColor(26, 40, 58));
    SimFont::Draw(p, 12, 8, model_, 4, QColor(240, 244, 248));
    const std::string settings = Format("CENTER %.3f MHz   SPAN %.3f MHz", centerMHz_, spanMHz_);
    SimFont::Draw(p, width_ - 170 - SimFont::Width(settings, 2), 8, settings, 2, text);
    SimFont::Draw(p, width_ - 170 - SimFont::Width("REF 0.0 dBm  10 dB/DIV  RBW 100 kHz", 2), 26,
                  "REF 0.0 dBm  10 dB/DIV  RBW 100 kHz", 2, dim);

    // Soft keys down the right side.
    const Menu& menu = MenuNamed(menu_);
    const int keyX = width_ - 156;
    const int keyTop = 52;
    const int keyH = (height_ - keyTop - 60) / 7;
    SimFont::Draw(p, keyX + 8, keyTop + 4, menu.key, 3, accent);
    for (int i = 0; i < 6; ++i) {
        const int y = keyTop + keyH * (i + 1);
        const bool active = softKey_ == i + 1;
        p.fillRect(keyX, y, 148, keyH - 6, active ? QColor(52, 96, 150) : QColor(34, 46, 60));
        p.setPen(QColor(80, 100, 120));
        p.drawRect(keyX, y, 147, keyH - 7);
        const std::string_view label = menu.labels[static_cast<std::size_t>(i)];
        SimFont::Draw(p, keyX + (148 - SimFont::Width(label, 2)) / 2, y + (keyH - 6 - 14) / 2,
                      label, 2, text);
    }

    // Graticule.
    const int gx = 58;
    const int gy = 56;
    const int gw = keyX - gx - 16;
    const int gh = height_ - gy - 80;
    p.fillRect(gx, gy, gw, gh, QColor(6, 10, 14));
    p.setPen(QPen(QColor(44, 62, 72), 1, Qt::DotLine));
    for (int i = 1; i < kDivX; ++i) {
        p.drawLine(gx + gw * i / kDivX, gy, gx + gw * i / kDivX, gy + gh);
    }
    for (int i = 1; i < kDivY; ++i) {
        p.drawLine(gx, gy + gh * i / kDivY, gx + gw, gy + gh * i / kDivY);
    }
    p.setPen(QColor(90, 110, 124));
    p.drawRect(gx, gy, gw, gh);
    for (int i = 0; i <= kDivY; i += 2) {
        const std::string label = Format("%.0f", kRefDbm - kDbPerDiv * i);
        SimFont::Draw(p, gx - 6 - SimFont::Width(label, 1), gy + gh * i / kDivY - 3, label, 1, dim);
    }
    const std::string start = Format("%.3f", FrequencyAt(0));
    const std::string stop = Format("%.3f", FrequencyAt(kTracePoints - 1));
    SimFont::Draw(p, gx, gy + gh + 6, start, 1, dim);
    SimFont::Draw(p, gx + gw - SimFont::Width(stop, 1), gy + gh + 6, stop, 1, dim);

    // Trace.
    auto pointAt = [&](int i) {
        const double level = std::clamp(trace_[static_cast<std::size_t>(i)], -100.0, 0.0);
        return QPointF(gx + static_cast<double>(gw) * i / (kTracePoints - 1),
                       gy + gh * (kRefDbm - level) / (kDbPerDiv * kDivY));
    };
    QPainterPath path(pointAt(0));
    for (int i = 1; i < kTracePoints; ++i) {
        path.lineTo(pointAt(i));
    }
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(QPen(accent, 1.6));
    p.drawPath(path);

    // Marker.
    const QPointF m = pointAt(marker_);
    p.setPen(QPen(QColor(80, 230, 120), 2));
    p.setBrush(QColor(80, 230, 120));
    const std::array<QPointF, 3> tip{QPointF(m.x() - 7, m.y() - 14), QPointF(m.x() + 7, m.y() - 14),
                                     QPointF(m.x(), m.y() - 2)};
    p.drawPolygon(tip.data(), static_cast<int>(tip.size()));
    p.setRenderHint(QPainter::Antialiasing, false);
    SimFont::Draw(p, static_cast<int>(m.x()) - 3, static_cast<int>(m.y()) - 30, "1", 2,
                  QColor(80, 230, 120));

    // Readouts along the bottom.
    const int by = height_ - 56;
    const std::string readout = Format("MKR1 %.4f MHz  %.1f dBm", FrequencyAt(marker_),
                                       trace_[static_cast<std::size_t>(marker_)]);
    SimFont::Draw(p, gx, by, readout, 2, QColor(80, 230, 120));
    const std::string entry = "ENTRY: " + (entry_.empty() ? std::string("-") : entry_);
    SimFont::Draw(p, keyX, by, entry, 2, accent);
    const std::string last = "LAST: " + lastCommand_.substr(0, 40);
    SimFont::Draw(p, gx, by + 22, last, 2, text);
    const std::string counter = "FRAME " + std::to_string(frame_) + (hold_ ? "  HOLD" : "");
    SimFont::Draw(p, width_ - 12 - SimFont::Width(counter, 2), by + 22, counter, 2, dim);

    // The command stamp.
    const int stampTop = height_ - kStampFromBottom;
    for (int cell = 0; cell < kStampBits + 2; ++cell) {
        bool on = cell == 0;
        if (cell >= 1 && cell <= kStampBits) {
            on = ((commands_ >> (kStampBits - cell)) & 1u) != 0;
        }
        p.fillRect(kStampLeft + cell * kStampCell, stampTop, kStampCell, kStampCell,
                   on ? QColor(255, 255, 255) : QColor(0, 0, 0));
    }

    // Where the last touch landed.
    if (touch_) {
        const auto [tx, ty] = *touch_;
        p.setPen(QPen(QColor(255, 80, 80), 2));
        p.drawLine(tx - 12, ty, tx + 12, ty);
        p.drawLine(tx, ty - 12, tx, ty + 12);
        p.drawEllipse(QPoint(tx, ty), 6, 6);
    }
    p.end();
    return image;
}

std::optional<int> SimScreen::ReadCommandStamp(const QImage& drawn, int width, int height) {
    if (drawn.isNull() || width <= 0 || height <= 0) {
        return std::nullopt;
    }
    const double sx = static_cast<double>(drawn.width()) / width;
    const double sy = static_cast<double>(drawn.height()) / height;
    const int y = static_cast<int>((height - kStampFromBottom + kStampCell / 2.0) * sy);
    const auto bit = [&](int cell) {
        const int x = static_cast<int>((kStampLeft + cell * kStampCell + kStampCell / 2.0) * sx);
        return qGray(drawn.pixel(x, y)) >= 128;
    };
    if (y >= drawn.height() || !bit(0) || bit(kStampBits + 1)) {
        return std::nullopt;
    }
    int count = 0;
    for (int cell = 1; cell <= kStampBits; ++cell) {
        count = (count << 1) | (bit(cell) ? 1 : 0);
    }
    return count;
}

std::vector<std::uint8_t> SimScreen::Render() {
    const QImage image = RenderImage();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG", quality_);
    return {bytes.begin(), bytes.end()};
}

}  // namespace qv::sim
