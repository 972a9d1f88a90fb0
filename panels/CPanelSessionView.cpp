#include "panels/CPanelSessionView.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QStatusBar>
#include <QStyle>
#include <QWidget>
#include <algorithm>

#include "resources/ids.h"

namespace {

constexpr int kPaneWidths[] = {0, 120, 150, 190};
constexpr int kFixedPanesWidth = 480;

}  // namespace

CPanelSessionView::CPanelSessionView(QWidget* window)
    : QObject(window), window_(window), statusBar_(new QStatusBar(window)) {
    statusBar_->setSizeGripEnabled(false);
    statusBar_->setAutoFillBackground(true);
    QPalette pal = statusBar_->palette();
    pal.setColor(QPalette::Window, Qt::white);
    pal.setColor(QPalette::WindowText, Qt::black);
    statusBar_->setPalette(pal);
    icon_ = new QLabel(statusBar_);
    for (int pane = 0; pane < 4; ++pane) {
        auto* label = new QLabel(statusBar_);
        label->setObjectName(QStringLiteral("pane%1").arg(pane));
        label->setFrameShape(QFrame::Panel);
        label->setFrameShadow(QFrame::Sunken);
        if (pane == 1) {
            // The connection pane holds its icon and its text.
            auto* box = new QWidget(statusBar_);
            auto* row = new QHBoxLayout(box);
            row->setContentsMargins(2, 0, 2, 0);
            row->setSpacing(4);
            row->addWidget(icon_);
            row->addWidget(label, 1);
            label->setFrameShape(QFrame::NoFrame);
            box->setFixedWidth(kPaneWidths[1]);
            statusBar_->addWidget(box);
        } else {
            if (pane != 0) {
                label->setFixedWidth(kPaneWidths[pane]);
            }
            statusBar_->addWidget(label, pane == 0 ? 1 : 0);
        }
        panes_[pane] = label;
    }
    panes_[0]->setText(QStringLiteral(" "));
    panes_[1]->setText(QStringLiteral("Disconnected"));
    panes_[2]->setText(QStringLiteral("Remote Control Stopped"));
    panes_[3]->setText(QStringLiteral("0.0.0.0"));
    FitFont();
    SetLinkIcon(qv::ids::kIconDisconnected);
}

void CPanelSessionView::FitFont() {
    // The panes have fixed widths; the longest fixed text must fit its pane whatever the
    // desktop's font, so the bar's font shrinks until it does.
    QLabel* pane = panes_[2];
    const int room = kPaneWidths[2] - 2 * pane->frameWidth() - 2 * pane->margin() - 2;
    const auto widest = [](const QFont& font) {
        const QFontMetrics m(font);
        return std::max(m.horizontalAdvance(QStringLiteral("Remote Control Started")),
                        m.horizontalAdvance(QStringLiteral("Remote Control Stopped")));
    };
    QFont font = statusBar_->font();
    font.setPixelSize(QFontInfo(font).pixelSize());
    while (widest(font) > room && font.pixelSize() > 7) {
        font.setPixelSize(font.pixelSize() - 1);
    }
    statusBar_->setFont(font);
}

void CPanelSessionView::SetClientWidth(int width) {
    panes_[0]->setFixedWidth(std::max(0, width - kFixedPanesWidth));
}

void CPanelSessionView::SetPaneText(int pane, const QString& text) {
    if (const auto it = panes_.find(pane); it != panes_.end()) {
        it->second->setText(text);
    }
}

void CPanelSessionView::SetLinkIcon(int iconId) {
    if (iconId == iconId_) {
        return;
    }
    iconId_ = iconId;
    // The skin supplies the real icons; until one is installed a standard one stands in.
    QIcon icon = QIcon(QStringLiteral(":/skin/%1.png").arg(iconId));
    if (icon.isNull() || icon.availableSizes().isEmpty()) {
        icon = window_->style()->standardIcon(iconId == qv::ids::kIconConnected
                                                  ? QStyle::SP_DialogApplyButton
                                                  : QStyle::SP_DialogCancelButton);
    }
    icon_->setPixmap(icon.pixmap(16, 16));
}

QString CPanelSessionView::PaneText(int pane) const {
    const auto it = panes_.find(pane);
    return it == panes_.end() ? QString() : it->second->text();
}
