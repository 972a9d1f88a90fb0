#include "panels/softkey/CRemoteDlgWren.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>

#include "panels/CScreenView.h"
#include "panels/softkey/CReplayBar.h"
#include "panels/softkey/SoftKeyboardMap.h"
#include "resources/ids.h"
#include "widgets/CKnobButton.h"
#include "widgets/CSkinButton.h"
#include "widgets/SkinLibrary.h"

namespace {

namespace ids = qv::ids;

constexpr const char* kVersion = "2.1";
// The window's first size, before the layout replaces it.
constexpr QSize kInitialSize{1290, 820};

QString ControlName(int id) {
    return QStringLiteral("ctrl%1").arg(id);
}

std::size_t KeyIndex(int id) {
    return static_cast<std::size_t>(id - ids::kSoftKeyFirst);
}

bool IsKey(int id) {
    return id >= ids::kSoftKeyFirst && id <= ids::kSoftKeyLast;
}

int ScaleOfCommand(int id) {
    switch (id) {
        case ids::kCmdScale100:
            return 0;
        case ids::kCmdScale85:
            return 1;
        case ids::kCmdScale70:
            return 2;
        default:
            return -1;
    }
}

}  // namespace

CRemoteDlgWren::CRemoteDlgWren(qv::SettingsStore& store, QWidget* parent, std::uint16_t port,
                               bool networkUp)
    : CRemoteDlg(ids::kDlgSoftKeyPanel, parent) {
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setWindowIcon(qv::AppIcon());

    PanelSession::Options options;
    options.traits = qv::PanelTraits::SoftKey();
    for (int id = ids::kSoftKeyFirst; id <= ids::kSoftKeyLast; ++id) {
        options.keyControls.push_back(id);
    }
    options.keyControls.push_back(ids::kSoftKnob);
    options.screenSize = QSize(SoftLayout::kScreenWidth, SoftLayout::kScreenHeight);
    options.scaleItems = true;
    options.port = port;
    options.networkUp = networkUp;
    panel_ = new PanelSession(*this, store, std::move(options));
    panel_->onPanelCommand = [this](int id) { PanelCommand(id); };
    // Starting remote control ends a replay; the session's own handler runs as well.
    if (QAction* start = panel_->Action(ids::kCmdStart)) {
        connect(start, &QAction::triggered, this, [this] { StopReplay(); });
    }

    // Networking, log, engine owner, settings, status bar and the link text.
    panel_->Init();
    const qv::Settings& settings = panel_->session().settings();
    layout_ = SoftLayout(settings.scale, settings.hideKeyBtn == 1);

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().topLeft());
    }
    resize(kInitialSize);
    setWindowTitle(QStringLiteral("QVRemote %1").arg(QLatin1String(kVersion)));

    BuildKeys();
    BuildReplay();
    SetKeysEnabled(false);
    LoadKeyImages();
    LayoutPanel();
    // The knob's centre comes from its laid-out size.
    GiveKnobFrames();
    knob_->SetOwner(this);

    // PC keys reach the panel before any of its controls sees them.
    qApp->installEventFilter(this);
    panel_->StartWorker();
}

CRemoteDlgWren::~CRemoteDlgWren() {
    qApp->removeEventFilter(this);
    panel_->Shutdown();
}

void CRemoteDlgWren::BuildKeys() {
    for (const SoftKey& key : SoftKeyTable::Keys()) {
        auto* button = new CSkinButton(this);
        button->setObjectName(ControlName(key.id));
        const int id = key.id;
        connect(button, &QAbstractButton::clicked, this, [this, id] { OnKeyCommand(id); });
        keys_[KeyIndex(id)] = button;
    }
    knob_ = new CKnobButton(this);
    knob_->setObjectName(ControlName(ids::kSoftKnob));

    // Never shown: only its command message reaches it.
    keyboardButton_ = new QPushButton(QStringLiteral("Keyboard"), this);
    keyboardButton_->setObjectName(ControlName(SoftKeyTable::kKeyboardButton));
    keyboardButton_->setVisible(false);
    connect(keyboardButton_, &QPushButton::clicked, this,
            [this] { OnKeyCommand(SoftKeyTable::kKeyboardButton); });
}

void CRemoteDlgWren::BuildReplay() {
    auto* bar = new CReplayBar(this);
    bar->hide();
    bar->resize(bar->width(), bar->sizeHint().height());
    bar->player().draw = [this](const std::string& path) {
        const qv::ScreenRect rect = layout_.Screen();
        auto frame = ReplayPlayer::LoadFrame(path, QSize(rect.width(), rect.height()));
        if (frame) {
            panel_->screen().PostFrame(std::move(*frame));
        }
        return frame.has_value();
    };
    // One picture, one source: a replay that starts ends remote control.
    connect(bar, &CReplayBar::startedPlaying, this, [this] {
        if (panel_->session().streaming().load() == 1) {
            panel_->Command(ids::kCmdStop);
        }
    });
    replayBar_ = bar;

    QAction* item = panel_->menu().addAction(QStringLiteral("Replay\u2026"));
    item->setData(kCmdReplay);
    item->setCheckable(true);
    connect(item, &QAction::triggered, this, [this] { ToggleReplay(); });
    replayAction_ = item;
}

void CRemoteDlgWren::StopReplay() {
    if (auto* bar = qobject_cast<CReplayBar*>(replayBar_)) {
        bar->StopPlayback();
    }
}

void CRemoteDlgWren::ToggleReplay() {
    if (replayBar_ == nullptr) {
        return;
    }
    replayBar_->setHidden(!replayBar_->isHidden());
    if (replayAction_ != nullptr) {
        replayAction_->setChecked(!replayBar_->isHidden());
    }
    LayoutPanel();
}

CSkinButton* CRemoteDlgWren::Key(int id) const {
    return IsKey(id) ? keys_[KeyIndex(id)] : nullptr;
}

void CRemoteDlgWren::SetKeysEnabled(bool enabled) {
    for (CSkinButton* key : keys_) {
        key->setEnabled(enabled);
    }
    knob_->setEnabled(enabled);
}

void CRemoteDlgWren::LoadKeyImages() {
    const int s = layout_.scale();
    for (const SoftKey& key : SoftKeyTable::Keys()) {
        const auto& set = SoftKeyTable::Skin(key.id)->sets[static_cast<std::size_t>(s)];
        CSkinButton* button = keys_[KeyIndex(key.id)];
        button->LoadBitmaps(set.ids[0], set.ids[1], set.ids[2], set.ids[3]);
        button->SizeToContent();
    }
    GiveKnobFrames();
    knob_->SizeToContent();
}

void CRemoteDlgWren::GiveKnobFrames() {
    knob_->SetImages(layout_.Knob().Frames());
    knob_->LoadPositionImages();
}

void CRemoteDlgWren::LayoutPanel() {
    const QSize client = layout_.ClientSize();
    const int barHeight =
        replayBar_ != nullptr && replayBar_->isVisible() ? replayBar_->height() : 0;
    // The top-left corner stays; the client area is what the layout numbers describe.
    setFixedSize(client.width(), client.height() + barHeight);

    const qv::ScreenRect rect = layout_.Screen();
    panel_->screen().setFixedSize(rect.width(), rect.height());
    panel_->SetScreenRect(rect);
    panel_->SetScale(layout_.scale());
    panel_->PlaceStatusBar(client.width(), client.height());
    if (replayBar_ != nullptr) {
        replayBar_->setGeometry(0, client.height(), client.width(), replayBar_->height());
    }

    // Screen mode puts every key outside the smaller window; nothing hides them.
    for (const SoftKey& key : SoftKeyTable::Keys()) {
        keys_[KeyIndex(key.id)]->setGeometry(layout_.Place(*SoftKeyTable::Skin(key.id)));
    }
    knob_->setGeometry(layout_.KnobPlace());
    update();
}

void CRemoteDlgWren::PanelCommand(int id) {
    if (const int s = ScaleOfCommand(id); s >= 0) {
        ChooseScale(s);
    } else if (id == ids::kCmdScreenMode) {
        ToggleScreenMode();
    } else if (id == kCmdReplay) {
        ToggleReplay();
    }
}

void CRemoteDlgWren::Command(int id) {
    if (IsKey(id) || id == SoftKeyTable::kKeyboardButton) {
        OnKeyCommand(id);
        return;
    }
    if (id == ids::kCmdStart) {
        StopReplay();
    }
    if (!panel_->Command(id)) {
        PanelCommand(id);
    }
}

void CRemoteDlgWren::ChooseScale(int scale) {
    if (scale == layout_.scale()) {
        return;
    }
    layout_ = SoftLayout(scale, layout_.screenMode());
    LoadKeyImages();
    LayoutPanel();
    // The knob's centre follows its new size.
    GiveKnobFrames();
    update();
    panel_->store().StoreInt(qv::kSetScale, scale);
}

void CRemoteDlgWren::ToggleScreenMode() {
    layout_ = SoftLayout(layout_.scale(), !layout_.screenMode());
    LayoutPanel();
    panel_->store().StoreInt(qv::kSetHideKeyBtn, layout_.screenMode() ? 1 : 0);
}

void CRemoteDlgWren::SendKey(std::string text) {
    panel_->SendKey(std::move(text));
}

void CRemoteDlgWren::OnResponseReady(int flag) {
    panel_->session().OnResponseReady(flag);
}

void CRemoteDlgWren::OnKeyCommand(int id) {
    const std::string_view command = SoftKeyTable::Command(id);
    if (!command.empty()) {
        SendKey(std::string(command));
    }
}

void CRemoteDlgWren::ShowKeyPressed(int id, bool pressed) {
    CSkinButton* button = Key(id);
    if (button == nullptr) {
        return;
    }
    const auto& set = SoftKeyTable::Skin(id)->sets[static_cast<std::size_t>(layout_.scale())];
    const int normal = pressed ? set.ids[1] : set.ids[0];
    button->LoadBitmaps(normal, set.ids[1], set.ids[2], set.ids[3]);
    button->repaint();
}

bool CRemoteDlgWren::HandleKey(QKeyEvent& event) {
    const int id = SoftKeyboardMap::KeyFor(event);
    if (id == 0) {
        return false;
    }
    if (event.type() == QEvent::KeyPress) {
        ShowKeyPressed(id, true);
        held_.insert(id);
        return true;
    }
    // Held keys repeat as release and press pairs: one command per real release.
    if (event.isAutoRepeat()) {
        return true;
    }
    ShowKeyPressed(id, false);
    // A release whose press went to another window (Enter on a message box) is not a key
    // press on the instrument.
    if (held_.erase(id) != 0) {
        OnKeyCommand(id);
    }
    return true;
}

bool CRemoteDlgWren::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
        // Only keys meant for this window; its message boxes keep their own keys.
        auto* widget = qobject_cast<QWidget*>(watched);
        if (widget != nullptr && widget->window() == this &&
            HandleKey(*static_cast<QKeyEvent*>(event))) {
            return true;
        }
    }
    return CRemoteDlg::eventFilter(watched, event);
}

void CRemoteDlgWren::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    const QPixmap background = qv::SkinPixmap(layout_.BackgroundId());
    if (layout_.screenMode()) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawPixmap(QRect(QPoint(0, 0), layout_.BackgroundSize()), background);
    } else {
        painter.drawPixmap(0, 0, background);
    }
}

void CRemoteDlgWren::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        panel_->Touch(event->position().toPoint(), layout_.screenMode());
    }
    CRemoteDlg::mousePressEvent(event);
}

void CRemoteDlgWren::contextMenuEvent(QContextMenuEvent* event) {
    // The keys keep their own right button.
    if (QWidget* child = childAt(event->pos());
        child != nullptr && (qobject_cast<CSkinButton*>(child) != nullptr)) {
        event->ignore();
        return;
    }
    panel_->PopupMenu(event->globalPos(), layout_.screenMode());
}

void CRemoteDlgWren::closeEvent(QCloseEvent* event) {
    StopReplay();
    panel_->Shutdown();
    event->accept();
    CRemoteDlg::closeEvent(event);
}

void CRemoteDlgWren::done(int result) {
    StopReplay();
    panel_->Shutdown();
    CRemoteDlg::done(result);
}
