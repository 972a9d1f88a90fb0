#include "panels/CBasicPanelDlg.h"

#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QMouseEvent>
#include <QStatusBar>

#include "resources/ids.h"

namespace {

constexpr int kStatusHeight = 20;

}  // namespace

CBasicPanelDlg::CBasicPanelDlg(qv::SettingsStore& store, qv::PanelTraits traits, QWidget* parent,
                               std::uint16_t port)
    : CRemoteDlg(qv::ids::kDlgHardKeyPanel, parent) {
    const QSize picture = traits.softKey ? QSize(800, 600) : QSize(800, 480);
    PanelSession::Options options;
    options.traits = std::move(traits);
    options.screenSize = picture;
    options.port = port;
    panel_ = new PanelSession(*this, store, std::move(options));
    setWindowTitle(QApplication::applicationName());
    panel_->Init();
    panel_->SetScreenRect({0, 0, picture.width(), picture.height()});
    setFixedSize(picture.width(), picture.height() + kStatusHeight);
    panel_->PlaceStatusBar(picture.width(), picture.height() + kStatusHeight);
    panel_->StartWorker();
}

CBasicPanelDlg::~CBasicPanelDlg() {
    panel_->Shutdown();
}

void CBasicPanelDlg::OnResponseReady(int flag) {
    panel_->session().OnResponseReady(flag);
}

void CBasicPanelDlg::SendKey(std::string text) {
    panel_->SendKey(std::move(text));
}

void CBasicPanelDlg::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        panel_->Touch(event->position().toPoint(), true);
    }
    CRemoteDlg::mousePressEvent(event);
}

void CBasicPanelDlg::contextMenuEvent(QContextMenuEvent* event) {
    panel_->PopupMenu(event->globalPos(), false);
}

void CBasicPanelDlg::closeEvent(QCloseEvent* event) {
    panel_->Shutdown();
    event->accept();
    CRemoteDlg::closeEvent(event);
}

void CBasicPanelDlg::done(int result) {
    panel_->Shutdown();
    CRemoteDlg::done(result);
}
