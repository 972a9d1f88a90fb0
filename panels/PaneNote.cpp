#include "panels/PaneNote.h"

#include <algorithm>

PaneNote::PaneNote(std::function<void(const QString&)> show, QObject* parent)
    : QObject(parent), show_(std::move(show)) {
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, [this] {
        note_.clear();
        Refresh();
    });
}

void PaneNote::SetBase(const QString& text) {
    base_ = text;
    Refresh();
}

void PaneNote::SetMark(const QString& text) {
    if (text == mark_) {
        return;
    }
    mark_ = text;
    Refresh();
}

void PaneNote::Show(const QString& text, int seconds) {
    note_ = text;
    timer_.start(std::max(1, seconds) * 1000);
    Refresh();
}

QString PaneNote::Text() const {
    if (!note_.isEmpty()) {
        return note_;
    }
    if (mark_.isEmpty()) {
        return base_;
    }
    const QString base = base_.trimmed();
    return base.isEmpty() ? mark_ : mark_ + QStringLiteral("   ") + base;
}

void PaneNote::Refresh() {
    if (show_) {
        show_(Text());
    }
}
