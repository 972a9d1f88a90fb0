#include "panels/CPanelDlg.h"

#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMouseEvent>

#include "QvVersion.h"
#include "resources/ids.h"
#include "widgets/CKnobButton.h"
#include "widgets/CSkinButton.h"
#include "widgets/SkinLibrary.h"

namespace {

QString ControlName(int id) {
    return QStringLiteral("ctrl%1").arg(id);
}

}  // namespace

CPanelDlg::CPanelDlg(int templateId, qv::SettingsStore& store, PanelSession::Options options,
                     std::span<const qv::PanelKey> keys, std::span<const qv::KeyboardRow> keyboard,
                     QWidget* parent)
    : CRemoteDlg(templateId, parent), keys_(keys), keyboard_(keyboard) {
    setWindowIcon(qv::AppIcon());
    setWindowTitle(QStringLiteral("QVRemote %1").arg(QLatin1String(qv::kVersion)));
    panel_ = new PanelSession(*this, store, options);
    panel_->onPanelCommand = [this](int id) { PanelCommand(id); };
}

CPanelDlg::~CPanelDlg() {
    qApp->removeEventFilter(this);
    panel_->Shutdown();
}

void CPanelDlg::AddKey(const qv::PanelKey& key, CSkinButton* button) {
    button->setObjectName(ControlName(key.id));
    button->setAccessibleName(
        QString::fromUtf8(key.skin->label.data(), static_cast<qsizetype>(key.skin->label.size())));
    const int id = key.id;
    connect(button, &QAbstractButton::clicked, this, [this, id] { OnKey(id); });
    buttons_[id] = button;
}

void CPanelDlg::AddKnob(int id) {
    knob_ = new CKnobButton(this);
    knob_->setObjectName(ControlName(id));
}

void CPanelDlg::LoadKeyImages(int scale) {
    keyScale_ = scale;
    for (const qv::PanelKey& key : keys_) {
        buttons_.at(key.id)->LoadBitmaps(key.skin->sets[static_cast<std::size_t>(scale)].ids);
    }
}

void CPanelDlg::StartSession() {
    knob_->SetOwner(this);
    // PC keys reach the panel before any of its controls sees them.
    qApp->installEventFilter(this);
    panel_->StartWorker();
}

CSkinButton* CPanelDlg::Key(int id) const {
    const auto it = buttons_.find(id);
    return it == buttons_.end() ? nullptr : it->second;
}

void CPanelDlg::SetKeysEnabled(bool enabled) {
    // The session may apply its state before the keys are built; the panel applies it again
    // once they are.
    for (const qv::PanelKey& key : keys_) {
        if (CSkinButton* button = Key(key.id)) {
            button->setEnabled(enabled);
        }
    }
    if (knob_ != nullptr) {
        knob_->setEnabled(enabled);
    }
}

void CPanelDlg::SendKey(std::string text) {
    panel_->SendKey(std::move(text));
}

void CPanelDlg::OnKey(int id) {
    if (const qv::PanelKey* key = qv::FindKey(keys_, id)) {
        SendKey(std::string(key->command));
    }
}

void CPanelDlg::Command(int id) {
    if (qv::FindKey(keys_, id) != nullptr) {
        OnKey(id);
    } else if (!panel_->Command(id)) {
        PanelCommand(id);
    }
}

void CPanelDlg::PanelCommand(int id) {
    if (id == qv::ids::kCmdScreenMode) {
        SetScreenMode(!ScreenMode());
        panel_->store().StoreHideKeyBtn(ScreenMode());
    }
}

void CPanelDlg::ShowKeyPressed(int id, bool pressed) {
    const qv::PanelKey* key = qv::FindKey(keys_, id);
    CSkinButton* button = Key(id);
    if (key == nullptr || button == nullptr) {
        return;
    }
    auto ids = key->skin->sets[static_cast<std::size_t>(keyScale_)].ids;
    if (pressed) {
        ids[CSkinButton::kNormal] = ids[CSkinButton::kPressed];
    }
    button->LoadBitmaps(ids);
    button->repaint();
}

bool CPanelDlg::PreTranslateKey(const QKeyEvent& key) {
    const bool down = key.type() == QEvent::KeyPress;
    if (!KeyboardLive()) {
        const int k = key.key();
        return down && (k == Qt::Key_Escape || k == Qt::Key_Return || k == Qt::Key_Enter);
    }
    const int id = qv::MapKey(keyboard_, key);
    if (id == 0) {
        return false;
    }
    if (down) {
        ShowKeyPressed(id, true);
        held_.insert(id);
        return true;
    }
    // A held key repeats (X11: as release and press pairs); only the real release sends.
    if (key.isAutoRepeat()) {
        return true;
    }
    ShowKeyPressed(id, false);
    // A release whose press went to another window (Enter on a message box) is not a key
    // press on the instrument.
    if (held_.erase(id) != 0) {
        OnKey(id);
    }
    return true;
}

bool CPanelDlg::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
        // Only keys meant for this window; its message boxes keep their own keys.
        auto* widget = qobject_cast<QWidget*>(watched);
        if (widget != nullptr && widget->window() == this &&
            PreTranslateKey(*static_cast<QKeyEvent*>(event))) {
            event->accept();
            return true;
        }
    }
    return CRemoteDlg::eventFilter(watched, event);
}

bool CPanelDlg::OnPanel(QPoint clientPoint) const {
    // The screen picture lets input through, so it finds no child here.
    return childAt(clientPoint) == nullptr;
}

void CPanelDlg::mousePressEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    if (OnPanel(p)) {
        if (event->button() == Qt::LeftButton) {
            panel_->Touch(p);
        } else if (event->button() == Qt::RightButton) {
            panel_->PopupMenu(event->globalPosition().toPoint(), ScreenMode());
        }
    }
    CRemoteDlg::mousePressEvent(event);
}

void CPanelDlg::contextMenuEvent(QContextMenuEvent* event) {
    // The right press opened the panel's menu already.
    event->accept();
}

void CPanelDlg::Shutdown() {
    Closing();
    panel_->Shutdown();
}

void CPanelDlg::closeEvent(QCloseEvent* event) {
    Shutdown();
    event->accept();
    CRemoteDlg::closeEvent(event);
}

void CPanelDlg::done(int result) {
    Shutdown();
    CRemoteDlg::done(result);
}
