#include "dialogs/CXferDataDialog.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>
#include <algorithm>
#include <cstring>

#include "dialogs/DialogUnits.h"
#include "link/CDevComm.h"
#include "resources/ids.h"

namespace ids = qv::ids;

namespace {

QTimer* OneShot(QObject* parent) {
    auto* t = new QTimer(parent);
    t->setSingleShot(true);
    t->setInterval(1);
    return t;
}

}  // namespace

CXferDataDialog::CXferDataDialog(QWidget* parent)
    : QDialog(parent), startTimer_(OneShot(this)), pollTimer_(OneShot(this)) {
    setWindowTitle(QStringLiteral("Loading Data"));
    setProperty("ctrlId", ids::kDlgXferData);
    const qv::DialogUnits du(qv::DialogUnits::DialogFont(8));
    du.ApplyTemplate(*this, 316, 64);
    ok_ = new QPushButton(QStringLiteral("확인"), this);
    cancel_ = new QPushButton(QStringLiteral("취소"), this);
    status_ = new QLabel(this);
    progress_ = new QProgressBar(this);
    progress_->setTextVisible(false);
    qv::TagControl(*ok_, ids::kIdOk);
    qv::TagControl(*cancel_, ids::kIdCancel);
    qv::TagControl(*status_, ids::kXferStatus);
    qv::TagControl(*progress_, ids::kXferProgress);
    du.Place(*ok_, 259, 43, 50, 14);
    du.Place(*cancel_, 139, 43, 50, 14);
    du.Place(*status_, 7, 7, 63, 12);
    du.Place(*progress_, 7, 22, 302, 13);
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel_, &QPushButton::clicked, this, &CXferDataDialog::reject);
    connect(startTimer_, &QTimer::timeout, this, &CXferDataDialog::OnStartTimer);
    connect(pollTimer_, &QTimer::timeout, this, &CXferDataDialog::OnPollTimer);
}

void CXferDataDialog::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        OnInitDialog();
    }
    QDialog::showEvent(event);
}

void CXferDataDialog::OnInitDialog() {
    status_->setText(m_strStatus);
    if (m_nMethod == 2) {
        progress_->setRange(0, 100);
        return;
    }
    m_nTimerState = 0;
    startTimer_->start();
}

void CXferDataDialog::Message(const QString& text) {
    if (messageBox) {
        messageBox(text);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(), text, QMessageBox::Ok,
                    this);
    box.exec();
}

void CXferDataDialog::reject() {
    startTimer_->stop();
    pollTimer_->stop();
    if (m_pDevComm != nullptr) {
        m_pDevComm->Disconnect();
    }
    QDialog::reject();
}

void CXferDataDialog::OnStartTimer() {
    if (m_pDevComm == nullptr) {
        reject();
        return;
    }
    qv::CDevComm& dev = *m_pDevComm;
    int started = 0;
    switch (m_nMode) {
        case kModeLoadNamed:
            setWindowTitle(QStringLiteral("STR_XFER_LOAD_DATA"));
            started = dev.RequestNamed(m_cmd, m_code, m_strLoadName);
            break;
        case kModeReadFile:
            setWindowTitle(QStringLiteral("STR_XFER_READ_DATA"));
            started = dev.RequestFile(m_cmd, m_code, EntryName(),
                                      static_cast<std::uint32_t>(std::max(m_nSize, 0)));
            break;
        case kModeWriteData:
            setWindowTitle(QStringLiteral("STR_XFER_WRITE_DATA"));
            started = dev.WriteData(m_cmd, m_code, EntryName(), m_nSize, m_pData);
            break;
        case kModeEqInfo:
            setWindowTitle(QStringLiteral("STR_XFER_LOAD_EQINFO"));
            started = dev.SendRequest(m_cmd, m_code);
            break;
        case kModeConnect:
            setWindowTitle(QStringLiteral("Connecting Port..."));
            cancel_->setEnabled(false);
            dev.SetMethod(m_nMethod);
            if (dev.ConnectTcp() == 1) {
                accept();
            } else {
                Message(QStringLiteral("STR_XFER_CON_FAILED"));
                reject();
                Message(QString::fromStdString(dev.ErrorText()));
                reject();
            }
            return;
        default:
            reject();
            return;
    }
    cancel_->setEnabled(true);
    if (started == 0) {
        Message(QString::fromStdString(dev.ErrorText()));
        reject();
        return;
    }
    progress_->setRange(0, 100);
    progress_->setValue(0);
    pollTimer_->start();
}

void CXferDataDialog::OnPollTimer() {
    if (m_pDevComm == nullptr) {
        return;
    }
    const int p = m_pDevComm->Poll();
    if (p >= 100) {
        HandleAnswer();
    } else if (p == -1) {
        m_nResult = -1;
        reject();
        Message(QString::fromStdString(m_pDevComm->ErrorText()));
    } else if (p == -2) {
        m_nResult = -2;
        reject();
    } else {
        progress_->setValue(p);
        pollTimer_->start();
    }
}

void CXferDataDialog::HandleAnswer() {
    qv::CDevComm& dev = *m_pDevComm;
    const int length = dev.GetDataLength();
    switch (dev.LastFrameCode()) {
        case 1:
        case 2:
        case 3:
        case 5:
            dev.LoadEntryTable(dev.GetData(), static_cast<std::size_t>(length));
            break;
        case 80:
            if (length == 0) {
                Message(QStringLiteral("STR_ERR_EQUIP_CMD"));
                dev.SetConnected(0);
            } else {
                dev.SetConnected(1);
            }
            break;
        case 151:
            Message(QStringLiteral("The command is not supported on the type of machine !"));
            break;
        case 152:
            Message(QStringLiteral("File list not found!"));
            dev.ClearEntryTable();
            break;
        case 153:
            if (length == 0) {
                Message(QStringLiteral("The command is not supported Mode !"));
            } else {
                // The engine keeps a zero after the data, so this is a bounded text.
                Message(QString::fromLocal8Bit(reinterpret_cast<const char*>(dev.GetData())));
            }
            reject();
            return;
        case 160:
            dev.SendRequest(m_cmd, 160);
            Message(QStringLiteral("ERROR_TIME_OUT OK"));
            break;
        default:
            break;
    }
    dev.ClearLastFrameCode();
    accept();
}
