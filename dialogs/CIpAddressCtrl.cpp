#include "dialogs/CIpAddressCtrl.h"

#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QRegularExpressionValidator>

namespace {

constexpr int kMaxField = 255;

}  // namespace

CIpAddressCtrl::CIpAddressCtrl(QWidget* parent) : QFrame(parent) {
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    setBackgroundRole(QPalette::Base);
    setAutoFillBackground(true);
    setFocusPolicy(Qt::StrongFocus);

    auto* digits =
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,3}")), this);
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        auto* field = new QLineEdit(this);
        field->setFrame(false);
        field->setAlignment(Qt::AlignCenter);
        field->setMaxLength(3);
        field->setValidator(digits);
        field->installEventFilter(this);
        // The control is one tab stop; the later fields are reached by typing or clicking.
        field->setFocusPolicy(i == 0 ? Qt::StrongFocus : Qt::ClickFocus);
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
    QLineEdit* field = Field(i);
    if (field->text().toInt() > kMaxField) {
        field->setText(QString::number(kMaxField));
    }
    if (field->text().size() == 3 && field->cursorPosition() == 3 && i < 3) {
        FocusField(i + 1, true, false);
    }
    emit addressChanged();
}

bool CIpAddressCtrl::eventFilter(QObject* watched, QEvent* event) {
    const int i = IndexOf(watched);
    if (i < 0 || event->type() != QEvent::KeyPress) {
        return QFrame::eventFilter(watched, event);
    }
    auto* key = static_cast<QKeyEvent*>(event);
    QLineEdit* field = Field(i);
    const bool noSelection = !field->hasSelectedText();
    switch (key->key()) {
        case Qt::Key_Period:
            if (i < 3 && !field->text().isEmpty()) {
                FocusField(i + 1, true, false);
            }
            return true;  // a dot is never part of a field
        case Qt::Key_Backspace:
            if (i > 0 && noSelection && field->cursorPosition() == 0) {
                FocusField(i - 1, false, true);
                return true;
            }
            break;
        case Qt::Key_Left:
            if (i > 0 && noSelection && field->cursorPosition() == 0) {
                FocusField(i - 1, false, true);
                return true;
            }
            break;
        case Qt::Key_Right:
            if (i < 3 && noSelection && field->cursorPosition() == field->text().size()) {
                FocusField(i + 1, false, false);
                return true;
            }
            break;
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
