#include "dialogs/CIpAddressCtrl.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QRegularExpressionValidator>

namespace {

constexpr int kMaxField = 255;
constexpr int kFieldDigits = 3;

bool IsDigitKey(const QKeyEvent& key) {
    const QString text = key.text();
    return text.size() == 1 && text[0].isDigit() &&
           !(key.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
}

}  // namespace

CIpAddressCtrl::CIpAddressCtrl(QWidget* parent) : QFrame(parent) {
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    setBackgroundRole(QPalette::Base);
    setAutoFillBackground(true);
    // The fields are the tab stops; focus given to the control goes to the first.
    setFocusPolicy(Qt::NoFocus);

    auto* digits =
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,3}")), this);
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        auto* field = new QLineEdit(this);
        field->setFrame(false);
        field->setAlignment(Qt::AlignCenter);
        field->setMaxLength(kFieldDigits);
        field->setValidator(digits);
        field->installEventFilter(this);
        // Every field is a tab stop, in order, so Tab walks the address and then leaves it.
        field->setFocusPolicy(Qt::StrongFocus);
        field->setContextMenuPolicy(Qt::DefaultContextMenu);
        const int index = static_cast<int>(i);
        connect(field, &QLineEdit::textEdited, this, [this, index] { OnEdited(index); });
        fields_[i] = field;
    }
    for (auto& dot : dots_) {
        dot = new QLabel(QStringLiteral("."), this);
        dot->setAlignment(Qt::AlignCenter);
        dot->setBackgroundRole(QPalette::Base);
    }
    setFocusProxy(fields_[0]);
}

void CIpAddressCtrl::SetAddress(const qv::Quad& address) {
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        fields_[i]->setText(QString::number(address[i]));
    }
    advancedTo_ = -1;
    emit addressChanged();
}

qv::Quad CIpAddressCtrl::GetAddress() const {
    qv::Quad address{};
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        const int v = fields_[i]->text().toInt();
        address[i] = static_cast<std::uint8_t>(v > kMaxField ? kMaxField : v);
    }
    return address;
}

void CIpAddressCtrl::ClearAddress() {
    for (QLineEdit* field : fields_) {
        field->clear();
    }
    advancedTo_ = -1;
    emit addressChanged();
}

bool CIpAddressCtrl::IsBlank() const {
    for (const QLineEdit* field : fields_) {
        if (!field->text().isEmpty()) {
            return false;
        }
    }
    return true;
}

bool CIpAddressCtrl::PasteText(int i, const QString& text) {
    const QByteArray bytes = text.trimmed().toLatin1();
    const std::string_view view(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    if (const auto quad = qv::ParseStrictDottedQuad(view)) {
        SetAddress(*quad);
        FocusField(3, false, true);
        return true;
    }
    const auto number = qv::ParseStrictField(view);
    if (!number || i < 0 || i > 3) {
        return false;
    }
    Field(i)->setText(QString::number(*number));
    FocusField(i, false, true);
    advancedTo_ = -1;
    emit addressChanged();
    return true;
}

int CIpAddressCtrl::IndexOf(QObject* watched) const {
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        if (fields_[i] == watched) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

void CIpAddressCtrl::FocusField(int i, bool selectAll, bool atEnd) {
    QLineEdit* field = Field(i);
    field->setFocus(Qt::OtherFocusReason);
    if (selectAll) {
        field->selectAll();
    } else {
        field->setCursorPosition(atEnd ? static_cast<int>(field->text().size()) : 0);
    }
}

void CIpAddressCtrl::OnEdited(int i) {
    advancedTo_ = -1;
    typedIn_[static_cast<std::size_t>(i)] = true;
    QLineEdit* field = Field(i);
    if (field->text().toInt() > kMaxField) {
        field->setText(QString::number(kMaxField));
    }
    if (field->text().size() == kFieldDigits && field->cursorPosition() == kFieldDigits && i < 3) {
        FocusField(i + 1, true, false);
        advancedTo_ = i + 1;
    }
    emit addressChanged();
}

bool CIpAddressCtrl::OnKey(int i, QKeyEvent& key) {
    QLineEdit* field = Field(i);
    const bool noSelection = !field->hasSelectedText();
    const bool atStart = noSelection && field->cursorPosition() == 0;
    const bool atEnd = noSelection && field->cursorPosition() == field->text().size();
    if (key.matches(QKeySequence::Paste)) {
        if (!PasteText(i, QApplication::clipboard()->text())) {
            QApplication::beep();
        }
        return true;
    }
    if (IsDigitKey(key)) {
        // A digit typed into a full field begins the next one, as a third digit would have.
        if (atEnd && field->text().size() == kFieldDigits && i < 3) {
            FocusField(i + 1, true, false);
            QKeyEvent again(key.type(), key.key(), key.modifiers(), key.text());
            QCoreApplication::sendEvent(Field(i + 1), &again);
            return true;
        }
        // A lone 0 is what an untouched field shows: the first digit replaces it.
        bool& typed = typedIn_[static_cast<std::size_t>(i)];
        if (!typed && noSelection && field->text() == QLatin1String("0")) {
            field->selectAll();
        }
        typed = true;
        return false;
    }
    switch (key.key()) {
        case Qt::Key_Period:
        case Qt::Key_Comma:
        case Qt::Key_Space: {
            const bool justMoved = advancedTo_ == i;
            advancedTo_ = -1;
            if (!justMoved && i < 3 && !field->text().isEmpty()) {
                FocusField(i + 1, true, false);
            }
            return true;  // a separator is never part of a field
        }
        case Qt::Key_Backspace:
            if (i > 0 && atStart) {
                FocusField(i - 1, false, true);
                return true;
            }
            return false;
        case Qt::Key_Left:
            if (i > 0 && atStart && key.modifiers() == Qt::NoModifier) {
                FocusField(i - 1, false, true);
                return true;
            }
            return false;
        case Qt::Key_Right:
            if (i < 3 && atEnd && key.modifiers() == Qt::NoModifier) {
                FocusField(i + 1, false, false);
                return true;
            }
            return false;
        default:
            return false;
    }
}

void CIpAddressCtrl::ShowContextMenu(int i, const QPoint& globalPos) {
    QMenu* menu = Field(i)->createStandardContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    // The field's own paste would refuse a whole address; ours spreads it over the fields.
    for (QAction* action : menu->actions()) {
        if (action->objectName() == QLatin1String("edit-paste")) {
            action->disconnect();
            connect(action, &QAction::triggered, this, [this, i] {
                if (!PasteText(i, QApplication::clipboard()->text())) {
                    QApplication::beep();
                }
            });
        }
    }
    menu->popup(globalPos);
}

bool CIpAddressCtrl::eventFilter(QObject* watched, QEvent* event) {
    const int i = IndexOf(watched);
    if (i < 0) {
        return QFrame::eventFilter(watched, event);
    }
    switch (event->type()) {
        case QEvent::KeyPress:
            if (OnKey(i, *static_cast<QKeyEvent*>(event))) {
                event->accept();
                return true;
            }
            break;
        case QEvent::MouseButtonPress: {
            // A click into a field not being typed in selects it, so typing replaces what it
            // holds wherever the click landed; once typing, a click places the cursor.
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() == Qt::LeftButton &&
                (!Field(i)->hasFocus() || !typedIn_[static_cast<std::size_t>(i)])) {
                FocusField(i, true, false);
                advancedTo_ = -1;
                return true;
            }
            break;
        }
        case QEvent::ContextMenu:
            ShowContextMenu(i, static_cast<QContextMenuEvent*>(event)->globalPos());
            return true;
        case QEvent::FocusIn:
            typedIn_[static_cast<std::size_t>(i)] = false;
            if (advancedTo_ != i) {
                advancedTo_ = -1;
            }
            break;
        case QEvent::FocusOut: {
            // "001" was typed as three digits; once left, the field shows the number.
            QLineEdit* field = Field(i);
            if (!field->text().isEmpty()) {
                field->setText(QString::number(field->text().toInt()));
            }
            break;
        }
        default:
            break;
    }
    return QFrame::eventFilter(watched, event);
}

void CIpAddressCtrl::resizeEvent(QResizeEvent* event) {
    QFrame::resizeEvent(event);
    const QRect inner = contentsRect();
    const int dotWidth = fontMetrics().horizontalAdvance(QLatin1Char('.')) + 2;
    const int fieldWidth = (inner.width() - 3 * dotWidth) / 4;
    int x = inner.left();
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        fields_[i]->setGeometry(x, inner.top(), fieldWidth, inner.height());
        x += fieldWidth;
        if (i < dots_.size()) {
            dots_[i]->setGeometry(x, inner.top(), dotWidth, inner.height());
            x += dotWidth;
        }
    }
}

QSize CIpAddressCtrl::sizeHint() const {
    const QFontMetrics fm(font());
    const int w = 4 * fm.horizontalAdvance(QStringLiteral("000")) + 3 * fm.horizontalAdvance('.');
    return QSize(w + 16, fm.height() + 6);
}
