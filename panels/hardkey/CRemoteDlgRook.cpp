#include "panels/hardkey/CRemoteDlgRook.h"

#include <QPainter>

#include "panels/hardkey/HardKeyTable.h"
#include "resources/ids.h"
#include "widgets/CKnobButton.h"
#include "widgets/CTqButton.h"
#include "widgets/SkinLibrary.h"

namespace {

namespace ids = qv::ids;
namespace hardkey = qv::hardkey;

constexpr int kBackgroundNormal = 243;
constexpr int kBackgroundScreen = 242;
constexpr QSize kPicture{800, 480};

PanelSession::Options Options(std::uint16_t port, bool networkUp) {
    PanelSession::Options options;
    options.traits = qv::PanelTraits::HardKey();
    options.screenSize = kPicture;
    options.scaleItems = false;
    options.port = port;
    options.networkUp = networkUp;
    return options;
}

}  // namespace

CRemoteDlgRook::CRemoteDlgRook(qv::SettingsStore& store, QWidget* parent, std::uint16_t port,
                               bool networkUp)
    : CPanelDlg(ids::kDlgHardKeyPanel, store, Options(port, networkUp), hardkey::kKeys,
                hardkey::kKeyboard, parent) {
    BuildKeys<CTqButton>(ids::kHardKnob);
    panelSession().Init();
    screenMode_ = session().settings().hideKeyBtn == 1;
    panelSession().SetScreenRect(screenMode_ ? kScreenModeScreen : kNormalScreen);
    // The stored scale is only checked here; this panel always draws at 100 %.
    store.ScaleOnlyValidate();
    panelSession().SetScale(0);

    LoadKeyImages(0);
    Knob()->SetImages(hardkey::kKnob.Frames());
    Knob()->LoadPositionImages();
    // Keys, knob and menu as the session's first state allows: disabled until Start.
    panelSession().ApplyState();
    LayoutPanel();
    // The centre comes from the laid-out size.
    Knob()->SetImages(hardkey::kKnob.Frames());
    StartSession();
}

void CRemoteDlgRook::LayoutPanel() {
    const QSize client = screenMode_ ? kScreenClient : kNormalClient;
    // The screen-mode window is narrower than the resize bound; its own size must fit.
    setMinimumSize(kMinClient.boundedTo(client));
    setMaximumSize(kMaxClient);
    resize(client);

    panelSession().SetScreenRect(screenMode_ ? kScreenModeScreen : kNormalScreen);
    panelSession().PlaceStatusBar(client.width(), client.height());

    for (const qv::PanelKey& key : keys()) {
        const auto& s = *key.skin;
        CSkinButton* button = Key(key.id);
        // The first paint gives the key its image's size.
        button->setGeometry(s.x, s.y, s.w, s.h);
        button->setVisible(!(screenMode_ && key.hiddenInScreenMode));
    }
    Knob()->setGeometry(hardkey::kKnob.x, hardkey::kKnob.y, hardkey::kKnob.size,
                        hardkey::kKnob.size);
    Knob()->setVisible(true);
    update();
}

void CRemoteDlgRook::SetScreenMode(bool on) {
    screenMode_ = on;
    LayoutPanel();
}

bool CRemoteDlgRook::KeyboardLive() {
    return session().Streaming();
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
