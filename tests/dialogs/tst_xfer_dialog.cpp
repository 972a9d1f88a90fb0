// The transfer dialog against the simulated instrument: modes, answer codes, failures.
#include <QtTest>

#include "dialogs/CXferDataDialog.h"
#include "link/CDevComm.h"
#include "link/CommandSet.h"
#include "sim/SimServer.h"

class TestXferDialog : public QObject {
    Q_OBJECT
    std::unique_ptr<qv::sim::SimServer> sim_;
    std::unique_ptr<qv::CDevComm> dev_;
    QStringList boxes_;

    // Over TCP, collecting the boxes the dialog would show.
    int Run(CXferDataDialog& dlg, int mode, std::uint8_t code = 0) {
        dlg.m_pDevComm = dev_.get();
        dlg.m_nMethod = 1;
        dlg.m_nMode = mode;
        dlg.m_cmd = qv::kCmdRequest;
        dlg.m_code = code;
        dlg.messageBox = [this](const QString& text) { boxes_ << text; };
        return dlg.exec();
    }
    void Answer(std::uint8_t code, QByteArray data) {
        sim_->instrument().SetAnswer(code, std::vector<std::uint8_t>(data.begin(), data.end()));
    }

  private slots:
    void init() {
        dev_.reset();  // before the peer it talks to
        boxes_.clear();
        sim_ = std::make_unique<qv::sim::SimServer>();
        QVERIFY(sim_->Start("127.0.0.1", 0));
        dev_ = std::make_unique<qv::CDevComm>();
        dev_->Init();
        dev_->SetPort(sim_->port());
        QCOMPARE(dev_->ConnectTcp(), 1);
    }

    // Answer code and data: whether the dialog accepts, the boxes shown, the link kept.
    void answerCodes() {
        const std::tuple<int, QByteArray, bool, QStringList, int> rows[] = {
            {80, {}, true, {"STR_ERR_EQUIP_CMD"}, 0},
            {80, QByteArray("QV392B", 7), true, {}, 1},
            {151, {}, true, {"The command is not supported on the type of machine !"}, 1},
            {153, {}, false, {"The command is not supported Mode !"}, 0},
            {153, QByteArray("Busy: measuring", 16), false, {"Busy: measuring"}, 0},
            {160, "x", true, {"ERROR_TIME_OUT OK"}, 1},
            {77, "x", true, {}, 1},
        };
        for (const auto& [code, answer, accepted, boxes, connected] : rows) {
            init();
            Answer(std::uint8_t(code), answer);
            CXferDataDialog dlg;
            const int result = Run(dlg, CXferDataDialog::kModeEqInfo, std::uint8_t(code));
            QCOMPARE(std::tuple(code, result, boxes_, dev_->IsConnected(), dlg.windowTitle()),
                     std::tuple(code, int(accepted), boxes, connected, "STR_XFER_LOAD_EQINFO"));
            if (code == 160) {  // answered with a request of its own
                QTRY_COMPARE(sim_->instrument().Requests().size(), std::size_t{2});
                QCOMPARE(sim_->instrument().Requests()[1].code, std::uint8_t{160});
            }
        }
    }

    // A name too long for the entry is refused; a list answer fills the entry table, "File list
    // not found!" empties it; a peer that hangs up mid-answer is an engine error.
    void listAndFileAnswers() {
        Answer(1, QByteArray(840, 'a'));
        const auto read = [this](int mode, std::uint8_t code, std::string name, int size) {
            CXferDataDialog dlg;
            dlg.m_strEntryName = dlg.m_strLoadName = std::move(name);
            dlg.m_nSize = size;
            return Run(dlg, mode, code) == QDialog::Accepted ? 1 : dlg.m_nResult;
        };
        QCOMPARE(read(CXferDataDialog::kModeReadFile, 1, std::string(200, 'n'), 840), 0);
        QCOMPARE(boxes_, QStringList{"STR_ERROR_PACKET"});
        QCOMPARE(dev_->ConnectTcp(), 1);
        QCOMPARE(read(CXferDataDialog::kModeReadFile, 1, "list.dat", 840), 1);
        QCOMPARE(dev_->EntryCount(), 10);
        Answer(152, {});
        QCOMPARE(read(CXferDataDialog::kModeLoadNamed, 152, "setup.sta", 0), 1);
        QCOMPARE(dev_->EntryCount(), 0);
        qv::sim::SimFaults hangUp;
        hangUp.closeAfterFrames = 1;
        sim_->instrument().SetFaults(hangUp);
        QCOMPARE(read(CXferDataDialog::kModeReadFile, qv::REQ_SCREEN, "currentdisp.jpg", 400000),
                 -1);
        QCOMPARE(boxes_,
                 (QStringList{"STR_ERROR_PACKET", "File list not found!", "STR_ERROR_TIMEOUT"}));
    }

    // Unknown modes cancel at once and disconnect; the connect mode connects, or says why not.
    void modesAndConnect() {
        for (const int mode : {0, 15}) {
            QVERIFY(dev_->ConnectTcp() == 1 || dev_->IsConnected());
            CXferDataDialog dlg;
            QCOMPARE(Run(dlg, mode), int(QDialog::Rejected));
            QCOMPARE(dev_->IsConnected(), 0);
        }
        QVERIFY(boxes_.isEmpty());
        CXferDataDialog connect;
        QCOMPARE(Run(connect, CXferDataDialog::kModeConnect), int(QDialog::Accepted));
        QCOMPARE(dev_->IsConnected(), 1);
        QCOMPARE(connect.windowTitle(), QStringLiteral("Connecting Port..."));
        dev_->Disconnect();
        sim_->Stop();
        CXferDataDialog fails;
        QCOMPARE(Run(fails, CXferDataDialog::kModeConnect), int(QDialog::Rejected));
        QCOMPARE(boxes_, (QStringList{"STR_XFER_CON_FAILED", "STR_DEVCOM_ERR_CHKCABLE"}));
    }
};

QTEST_MAIN(TestXferDialog)
#include "tst_xfer_dialog.moc"
