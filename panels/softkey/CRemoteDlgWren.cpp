#include "panels/softkey/CRemoteDlgWren.h"

#include <QAction>
#include <QGuiApplication>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QScreen>

#include "panels/CScreenView.h"
#include "panels/VideoExport.h"
#include "panels/softkey/CReplayBar.h"
#include "panels/softkey/SoftKeyTable.h"
#include "resources/ids.h"
#include "session/Commands.h"
#include "widgets/CKnobButton.h"
#include "widgets/CSkinButton.h"
#include "widgets/SkinLibrary.h"

namespace {

namespace ids = qv::ids;
namespace softkey = qv::softkey;

// The window's first size, before the layout replaces it.
constexpr QSize kInitialSize{1290, 820};

// The scale items and the scale setting each chooses.
constexpr std::pair<int, int> kScaleItems[] = {
    {ids::kCmdScale100, 0},
    {ids::kCmdScale85, 1},
    {ids::kCmdScale70, 2},
};

PanelSession::Options Options(std::uint16_t port, bool networkUp) {
    PanelSession::Options options;
    options.traits = qv::PanelTraits::SoftKey();
    options.screenSize = QSize(SoftLayout::kScreenWidth, SoftLayout::kScreenHeight);
    options.scaleItems = true;
    options.port = port;
    options.networkUp = networkUp;
    return options;
}

}  // namespace

CRemoteDlgWren::CRemoteDlgWren(qv::SettingsStore& store, QWidget* parent, std::uint16_t port,
                               bool networkUp)
    : CPanelDlg(ids::kDlgSoftKeyPanel, store, Options(port, networkUp), softkey::kKeys,
                softkey::kKeyboard, parent) {
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    // Starting remote control ends a replay; the session's own handler runs as well.
    if (QAction* start = panelSession().Action(ids::kCmdStart)) {
        connect(start, &QAction::triggered, this, [this] { StopReplay(); });
    }

    // Networking, log, engine owner, settings, status bar and the link text.
    panelSession().Init();
    const qv::Settings& settings = session().settings();
    layout_ = SoftLayout(settings.scale, settings.hideKeyBtn == 1);

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().topLeft());
    }
    resize(kInitialSize);

    BuildKeys<CSkinButton>(ids::kSoftKnob);
    // Never shown: only its command message reaches it.
    keyboardButton_ = new QPushButton(QStringLiteral("Keyboard"), this);
    keyboardButton_->setObjectName(QStringLiteral("ctrl%1").arg(softkey::kKeyboardButton));
    keyboardButton_->setVisible(false);
    connect(keyboardButton_, &QPushButton::clicked, this,
            [this] { Command(softkey::kKeyboardButton); });
    BuildReplay();
    // Keys, knob and menu as the session's first state allows: disabled until Start.
    panelSession().ApplyState();
    LoadImages();
    LayoutPanel();
    // The knob's centre comes from its laid-out size.
    GiveKnobFrames();
    StartSession();
}

void CRemoteDlgWren::BuildReplay() {
    auto* bar = new CReplayBar(this);
    bar->hide();
    bar->resize(bar->width(), bar->sizeHint().height());
    bar->player().draw = [this](const std::string& path) {
        const qv::ScreenRect rect = layout_.Screen();
        auto frame = ReplayPlayer::LoadFrame(path, QSize(rect.width(), rect.height()));
        if (frame) {
            screen().PostFrame(std::move(*frame));
        }
        return frame.has_value();
    };
    // One picture, one source: a replay that starts ends remote control.
    connect(bar, &CReplayBar::startedPlaying, this, [this] {
        if (session().Streaming()) {
            panelSession().Command(ids::kCmdStop);
        }
    });
    connect(bar, &CReplayBar::exportRequested, this,
            [this](const QString& folder) { panelSession().videoExport().ExportFolder(folder); });
    replayBar_ = bar;

    QAction* item = menu().addAction(QStringLiteral("Replay\u2026"));
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

void CRemoteDlgWren::Closing() {
    StopReplay();
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

void CRemoteDlgWren::LoadImages() {
    LoadKeyImages(layout_.scale());
    for (const qv::PanelKey& key : keys()) {
        Key(key.id)->SizeToContent();
    }
    GiveKnobFrames();
    Knob()->SizeToContent();
}

void CRemoteDlgWren::GiveKnobFrames() {
    Knob()->SetImages(layout_.Knob().Frames());
    Knob()->LoadPositionImages();
}

void CRemoteDlgWren::LayoutPanel() {
    const QSize client = layout_.ClientSize();
    const int barHeight =
        replayBar_ != nullptr && replayBar_->isVisible() ? replayBar_->height() : 0;
    // The top-left corner stays; the client area is what the layout numbers describe.
    setFixedSize(client.width(), client.height() + barHeight);

    const qv::ScreenRect rect = layout_.Screen();
    screen().setFixedSize(rect.width(), rect.height());
    panelSession().SetScreenRect(rect);
    panelSession().SetScale(layout_.scale());
    panelSession().PlaceStatusBar(client.width(), client.height());
    if (replayBar_ != nullptr) {
        replayBar_->setGeometry(0, client.height(), client.width(), replayBar_->height());
    }

    // Screen mode puts every key outside the smaller window; nothing hides them.
    for (const qv::PanelKey& key : keys()) {
        Key(key.id)->setGeometry(layout_.Place(*key.skin));
    }
    Knob()->setGeometry(layout_.KnobPlace());
    update();
}

void CRemoteDlgWren::PanelCommand(int id) {
    for (const auto& [item, scale] : kScaleItems) {
        if (id == item) {
            ChooseScale(scale);
            return;
        }
    }
    if (id == kCmdReplay) {
        ToggleReplay();
        return;
    }
    CPanelDlg::PanelCommand(id);
}

void CRemoteDlgWren::Command(int id) {
    if (id == softkey::kKeyboardButton) {
        SendKey(std::string(qv::kKeyboardCommand));
        return;
    }
    if (id == ids::kCmdStart) {
        StopReplay();
    }
    CPanelDlg::Command(id);
}

void CRemoteDlgWren::ChooseScale(int scale) {
    if (scale == layout_.scale()) {
        return;
    }
    layout_ = SoftLayout(scale, layout_.screenMode());
    LoadImages();
    LayoutPanel();
    // The knob's centre follows its new size.
    GiveKnobFrames();
    update();
    panelSession().store().StoreScale(scale);
}

void CRemoteDlgWren::SetScreenMode(bool on) {
    layout_ = SoftLayout(layout_.scale(), on);
    LayoutPanel();
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
