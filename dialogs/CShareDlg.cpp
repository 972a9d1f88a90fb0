#include "dialogs/CShareDlg.h"

#include <qrencode.h>

#include <QButtonGroup>
#include <QClipboard>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QUrl>
#include <QVBoxLayout>
#include <memory>

namespace {

QLineEdit* FileField(QWidget* parent, QHBoxLayout*& row, const QString& title) {
    auto* edit = new QLineEdit(parent);
    auto* browse = new QPushButton(QStringLiteral("\u2026"), parent);
    browse->setAccessibleName(title);
    QObject::connect(browse, &QPushButton::clicked, edit, [edit, parent, title] {
        const QString file = QFileDialog::getOpenFileName(parent, title, edit->text());
        if (!file.isEmpty()) {
            edit->setText(file);
        }
    });
    row = new QHBoxLayout;
    row->addWidget(edit, 1);
    row->addWidget(browse);
    return edit;
}

}  // namespace

QImage QrCodeImage(const QString& text, int scale) {
    const QByteArray utf8 = text.toUtf8();
    std::unique_ptr<QRcode, void (*)(QRcode*)> code(
        QRcode_encodeString(utf8.constData(), 0, QR_ECLEVEL_M, QR_MODE_8, 1), QRcode_free);
    if (!code || scale < 1) {
        return {};
    }
    constexpr int kQuiet = 4;
    const int side = (code->width + 2 * kQuiet) * scale;
    QImage image(side, side, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    for (int y = 0; y < code->width; ++y) {
        for (int x = 0; x < code->width; ++x) {
            if ((code->data[y * code->width + x] & 1) != 0) {
                p.fillRect((x + kQuiet) * scale, (y + kQuiet) * scale, scale, scale, Qt::black);
            }
        }
    }
    return image;
}

CShareDlg::CShareDlg(const ShareChoice& current, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Share in browser"));
    auto* top = new QVBoxLayout(this);

    auto* modeBox = new QGroupBox(QStringLiteral("Share"), this);
    auto* modeRow = new QHBoxLayout(modeBox);
    mode_ = new QButtonGroup(this);
    const char* const modes[] = {"Off", "View only", "View and control"};
    for (int i = 0; i < 3; ++i) {
        auto* b = new QRadioButton(QString::fromUtf8(modes[i]), modeBox);
        b->setObjectName(QStringLiteral("shareMode%1").arg(i));
        mode_->addButton(b, i);
        modeRow->addWidget(b);
    }
    mode_->button(current.mode)->setChecked(true);
    top->addWidget(modeBox);

    auto* form = new QFormLayout;
    where_ = new QComboBox(this);
    where_->setObjectName(QStringLiteral("shareWhere"));
    where_->addItems({QStringLiteral("This computer only"), QStringLiteral("All networks")});
    where_->setCurrentIndex(current.allNetworks ? 1 : 0);
    form->addRow(QStringLiteral("Listen on:"), where_);
    warning_ = new QLabel(
        QStringLiteral("Anyone who can reach this computer and holds a link sees the screen "
                       "(and with control presses keys)."),
        this);
    warning_->setWordWrap(true);
    form->addRow(QString(), warning_);
    port_ = new QSpinBox(this);
    port_->setObjectName(QStringLiteral("sharePort"));
    port_->setRange(1024, 65535);
    port_->setValue(current.port);
    port_->setToolTip(QStringLiteral("The next free port is taken if this one is in use."));
    form->addRow(QStringLiteral("Port:"), port_);
    QHBoxLayout* certRow = nullptr;
    QHBoxLayout* keyRow = nullptr;
    cert_ = FileField(this, certRow, QStringLiteral("Certificate (PEM)"));
    key_ = FileField(this, keyRow, QStringLiteral("Private key (PEM)"));
    cert_->setText(current.certFile);
    key_->setText(current.keyFile);
    form->addRow(QStringLiteral("Certificate:"), certRow);
    form->addRow(QStringLiteral("Key:"), keyRow);
    top->addLayout(form);

    plain_ = new QLabel(this);
    plain_->setWordWrap(true);
    plain_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    top->addWidget(plain_);
    error_ = new QLabel(this);
    error_->setWordWrap(true);
    error_->setStyleSheet(QStringLiteral("color: #b00020;"));
    top->addWidget(error_);
    links_ = new QVBoxLayout;
    top->addLayout(links_);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Apply | QDialogButtonBox::Close, this);
    // Enter applies: the dialog stays open to show the links it brings.
    buttons->button(QDialogButtonBox::Apply)->setDefault(true);
    connect(buttons->button(QDialogButtonBox::Apply), &QPushButton::clicked, this,
            &CShareDlg::Apply);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    top->addWidget(buttons);
    connect(where_, &QComboBox::currentIndexChanged, this, &CShareDlg::UpdateWarning);
    UpdateWarning();
}

ShareChoice CShareDlg::Choice() const {
    ShareChoice c;
    c.mode = mode_->checkedId();
    c.allNetworks = where_->currentIndex() == 1;
    c.port = port_->value();
    c.certFile = cert_->text().trimmed();
    c.keyFile = key_->text().trimmed();
    return c;
}

void CShareDlg::UpdateWarning() {
    warning_->setVisible(where_->currentIndex() == 1);
}

void CShareDlg::Apply() {
    error_->clear();
    QString error;
    const ShareChoice c = Choice();
    if (c.certFile.isEmpty() != c.keyFile.isEmpty()) {
        error_->setText(QStringLiteral("A certificate needs its key, and a key its certificate."));
        return;
    }
    if (!onApply || !onApply(c, error)) {
        ShowError(error);
    } else if (c.mode == ShareChoice::Off) {
        ShowLinks({}, false);
    } else {
        ShowStarting();
    }
}

void CShareDlg::ClearLinks() {
    while (QLayoutItem* item = links_->takeAt(0)) {
        if (QWidget* w = item->widget()) {
            w->deleteLater();
        }
        delete item;
    }
}

void CShareDlg::ShowStarting() {
    ClearLinks();
    error_->clear();
    plain_->setText(QStringLiteral("Starting the share\u2026"));
    adjustSize();
}

void CShareDlg::ShowError(const QString& error) {
    ClearLinks();
    plain_->clear();
    error_->setText(error.isEmpty() ? QStringLiteral("The share could not start.") : error);
    adjustSize();
}

void CShareDlg::ShowLinks(const ShareLinks& links, bool tls) {
    ClearLinks();
    error_->clear();
    // The port the share took, which is the next free one when the chosen one was in use.
    plain_->setText(
        links.isEmpty() || tls
            ? QString()
            : QStringLiteral("The link is plain http: use it on this computer or your own "
                             "network, or tunnel it from elsewhere: ssh -L %1:127.0.0.1:%1 "
                             "this-computer, then open the link with 127.0.0.1.")
                  .arg(QUrl(links.first().second).port(port_->value())));
    for (const auto& link : links) {
        const QString what = link.first;
        const QString url = link.second;
        auto* box = new QGroupBox(what, this);
        auto* row = new QHBoxLayout(box);
        auto* text = new QVBoxLayout;
        auto* edit = new QLineEdit(url, box);
        edit->setReadOnly(true);
        edit->setObjectName(QStringLiteral("shareLink") + what);
        edit->setMinimumWidth(360);
        edit->setCursorPosition(0);  // the address first; the token runs off to the right
        auto* copy = new QPushButton(QStringLiteral("Copy"), box);
        connect(copy, &QPushButton::clicked, box,
                [url] { QGuiApplication::clipboard()->setText(url); });
        text->addWidget(edit);
        text->addWidget(copy, 0, Qt::AlignLeft);
        text->addStretch(1);
        row->addLayout(text, 1);
        auto* qr = new QLabel(box);
        qr->setPixmap(QPixmap::fromImage(QrCodeImage(url, 3)));
        qr->setAccessibleName(QStringLiteral("QR code of the %1 link").arg(what.toLower()));
        row->addWidget(qr);
        links_->addWidget(box);
    }
    adjustSize();
}
