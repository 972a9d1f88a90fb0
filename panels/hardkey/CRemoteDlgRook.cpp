#include "panels/hardkey/CRemoteDlgRook.h"

#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include "panels/hardkey/HardKeyTable.h"
#include "resources/ids.h"
#include "session/Commands.h"
#include "widgets/CKnobButton.h"
#include "widgets/CTqButton.h"
#include "widgets/SkinLibrary.h"

namespace {

namespace ids = qv::ids;
using qv::hardkey::HardKey;
using qv::hardkey::HardKeyTable;

constexpr const char* kVersion = "2.1";
constexpr int kBackgroundNormal = 243;
constexpr int kBackgroundScreen = 242;
constexpr QSize kPicture{800, 480};
constexpr qv::ScreenRect kNormalScreen{qv::kHardScreenLeft, qv::kHardScreenTop,
                                       qv::kHardScreenLeft + 800, qv::kHardScreenTop + 480};
constexpr qv::ScreenRect kScreenModeScreen{0, 0, 800, 480};

QString ControlName(int id) {
    return QStringLiteral("ctrl%1").arg(id);
}

}  // namespace

CRemoteDlgRook::CRemoteDlgRook(qv::SettingsStore& store, QWidget* parent, std::uint16_t port,
                               bool networkUp)
    : CRemoteDlg(ids::kDlgHardKeyPanel, parent),
      scanCodes_(qv::hardkey::HardKeyboardMap::PlatformScanCodes()) {
    PanelSession::Options options;
    options.traits = qv::PanelTraits::HardKey();
    for (int id = ids::kHardKeyFirst; id <= ids::kHardKnob; ++id) {
        options.keyControls.push_back(id);
    }
    options.screenSize = kPicture;
    options.scaleItems = false;
    options.port = port;
    options.networkUp = networkUp;
    panel_ = new PanelSession(*this, store, std::move(options));
    panel_->onPanelCommand = [this](int id) { OnPanelCommand(id); };
    BuildKeys();

    setWindowIcon(qv::AppIcon());
    panel_->Init();
    screenMode_ = panel_->session().settings().hideKeyBtn == 1;
    panel_->SetScreenRect(screenMode_ ? kScreenModeScreen : kNormalScreen);
    // The stored scale is only checked here; this panel always draws at 100 %.
    store.ScaleOnlyValidate();
    panel_->SetScale(0);

    LoadKeyImages();
    for (const HardKey& key : HardKeyTable::Keys()) {
        keys_.at(key.id)->setEnabled(false);
    }
    knob_->setEnabled(false);

    LayoutPanel();
    // The centre comes from the laid-out size.
    knob_->SetImages(HardKeyTable::Knob().Frames());
    knob_->SetOwner(this);

    setWindowTitle(QStringLiteral("QVRemote %1").arg(QLatin1String(kVersion)));
    qApp->installEventFilter(this);
    panel_->StartWorker();
}

CRemoteDlgRook::~CRemoteDlgRook() {
    qApp->removeEventFilter(this);
    panel_->Shutdown();
}

void CRemoteDlgRook::BuildKeys() {
    for (const HardKey& key : HardKeyTable::Keys()) {
        auto* button = new CTqButton(this);
        button->setObjectName(ControlName(key.id));
        button->setAccessibleName(
            QString::fromUtf8(key.skin->label.data(), static_cast<int>(key.skin->label.size())));
        const int id = key.id;
        connect(button, &CTqButton::clicked, this, [this, id] { OnKey(id); });
        keys_[key.id] = button;
    }
    knob_ = new CKnobButton(this);
    knob_->setObjectName(ControlName(ids::kHardKnob));
}

void CRemoteDlgRook::LoadKeyImages() {
    for (const HardKey& key : HardKeyTable::Keys()) {
        const auto set = key.ReleaseSet();
        keys_.at(key.id)->LoadBitmaps(set[0], set[1], set[2], set[3]);
    }
    knob_->SetImages(HardKeyTable::Knob().Frames());
    knob_->LoadPositionImages();
}

void CRemoteDlgRook::LayoutPanel() {
    const QSize client = screenMode_ ? kScreenClient : kNormalClient;
    // The screen-mode window is narrower than the resize bound; its own size must fit.
    setMinimumSize(kMinClient.boundedTo(client));
    setMaximumSize(kMaxClient);
    resize(client);

    panel_->SetScreenRect(screenMode_ ? kScreenModeScreen : kNormalScreen);
    panel_->PlaceStatusBar(client.width(), client.height());

    for (const HardKey& key : HardKeyTable::Keys()) {
        const auto& s = *key.skin;
        CTqButton* button = keys_.at(key.id);
        // The first paint gives the key its image's size.
        button->setGeometry(s.x, s.y, s.w, s.h);
        button->setVisible(!(screenMode_ && key.hiddenInScreenMode));
    }
    const auto& knob = HardKeyTable::Knob();
    knob_->setGeometry(knob.x, knob.y, knob.size, knob.size);
    knob_->setVisible(true);
    update();
}

void CRemoteDlgRook::ToggleScreenMode() {
    screenMode_ = !screenMode_;
    LayoutPanel();
    panel_->store().StoreInt(qv::kSetHideKeyBtn, screenMode_ ? 1 : 0);
}

void CRemoteDlgRook::OnPanelCommand(int id) {
    if (id == ids::kCmdScreenMode) {
        ToggleScreenMode();
    }
}

void CRemoteDlgRook::Command(int id) {
    if (!panel_->Command(id)) {
        OnPanelCommand(id);
    }
}

void CRemoteDlgRook::OnKey(int id) {
    if (const auto command = HardKeyTable::Command(id)) {
        SendKey(std::string(*command));
    }
}

CTqButton* CRemoteDlgRook::Key(int id) const {
    const auto it = keys_.find(id);
    return it == keys_.end() ? nullptr : it->second;
}

void CRemoteDlgRook::OnResponseReady(int flag) {
    panel_->session().OnResponseReady(flag);
}

void CRemoteDlgRook::SendKey(std::string text) {
    panel_->SendKey(std::move(text));
}

bool CRemoteDlgRook::Running() {
    return panel_->session().streaming().load() == 1;
}

void CRemoteDlgRook::ShowKeySet(int id, bool pressed) {
    CTqButton* button = Key(id);
    const HardKey* key = HardKeyTable::Find(id);
    if (button == nullptr || key == nullptr) {
        return;
    }
    const auto set = pressed ? key->PressSet() : key->ReleaseSet();
    button->LoadBitmaps(set[0], set[1], set[2], set[3]);
    button->repaint();
}

bool CRemoteDlgRook::PreTranslateKey(QKeyEvent* key) {
    const bool down = key->type() == QEvent::KeyPress;
    if (!Running()) {
        // Neither Esc nor Enter may close the window or press a button.
        const int k = key->key();
        return down && (k == Qt::Key_Escape || k == Qt::Key_Return || k == Qt::Key_Enter);
    }
    const int id = qv::hardkey::HardKeyboardMap::ControlFor(*key, scanCodes_);
    if (id == 0) {
        return false;
    }
    if (down) {
        ShowKeySet(id, true);
        held_.insert(id);
        return true;
    }
    // A held key repeats its press; only the real release sends.
    if (key->isAutoRepeat()) {
        return true;
    }
    ShowKeySet(id, false);
    // A release whose press went to another window (Enter on a message box) is not a key
    // press on the instrument.
    if (held_.erase(id) != 0) {
        OnKey(id);
    }
    return true;
}

bool CRemoteDlgRook::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if ((type == QEvent::KeyPress || type == QEvent::KeyRelease) && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->window() == this) {
        if (PreTranslateKey(static_cast<QKeyEvent*>(event))) {
            event->accept();
            return true;
        }
    }
    return CRemoteDlg::eventFilter(watched, event);
}

void CRemoteDlgRook::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    if (isMinimized()) {
        const QPixmap icon = windowIcon().pixmap(32, 32);
        painter.drawPixmap((width() - icon.width()) / 2, (height() - icon.height()) / 2, icon);
        return;
    }
    // Drawn at its own size, never scaled.
    painter.drawPixmap(0, 0, qv::SkinPixmap(screenMode_ ? kBackgroundScreen : kBackgroundNormal));
}

bool CRemoteDlgRook::OnPanel(QPoint clientPoint) const {
    // The screen picture lets input through, so it finds no child here.
    return childAt(clientPoint) == nullptr;
}

void CRemoteDlgRook::mousePressEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    if (OnPanel(p)) {
        if (event->button() == Qt::LeftButton) {
            panel_->Touch(p, screenMode_);
        } else if (event->button() == Qt::RightButton) {
            panel_->PopupMenu(event->globalPosition().toPoint(), screenMode_);
        }
    }
    CRemoteDlg::mousePressEvent(event);
}

void CRemoteDlgRook::contextMenuEvent(QContextMenuEvent* event) {
    // The right press opened the panel menu already.
    event->accept();
}

void CRemoteDlgRook::closeEvent(QCloseEvent* event) {
    panel_->Shutdown();
    event->accept();
    CRemoteDlg::closeEvent(event);
}

void CRemoteDlgRook::done(int result) {
    panel_->Shutdown();
    CRemoteDlg::done(result);
}
