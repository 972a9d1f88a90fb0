// The transfer dialog against the simulated instrument: modes, answer codes, failures.
#include <QProgressBar>
#include <QTimer>
#include <QtTest>

#include "dialogs/CXferDataDialog.h"
#include "link/CDevComm.h"
#include "link/CommandSet.h"
#include "sim/SimServer.h"

class TestXferDialog : public QObject {
    Q_OBJECT

  private slots:
    void init();
    void cleanup();
    void answerCodes_data();
    void answerCodes();
    void listAnswerFillsTheTable();
    void fileNotFoundClearsTheTable();
    void unknownModesCancelAtOnce();
    void connectMode();
    void aPeerThatHangsUpIsAnEngineError();
    void usbStartsNothing();

  private:
    int Run(CXferDataDialog& dlg);

    std::unique_ptr<qv::sim::SimServer> sim_;
    std::unique_ptr<qv::CDevComm> dev_;
    QStringList boxes_;
};

void TestXferDialog::init() {
    boxes_.clear();
    sim_ = std::make_unique<qv::sim::SimServer>();
    QVERIFY(sim_->Start("127.0.0.1", 0));
    dev_ = std::make_unique<qv::CDevComm>();
    dev_->Init(nullptr);
    dev_->SetAddress("127.0.0.1");
    dev_->SetPort(sim_->port());
    QCOMPARE(dev_->ConnectTcp(), 1);
}

void TestXferDialog::cleanup() {
    dev_.reset();
    sim_.reset();
}

int TestXferDialog::Run(CXferDataDialog& dlg) {
    dlg.m_pDevComm = dev_.get();
    dlg.m_nMethod = 1;
    dlg.messageBox = [this](const QString& text) { boxes_ << text; };
    return dlg.exec();
}

void TestXferDialog::answerCodes_data() {
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<int>("result");
    QTest::addColumn<QStringList>("boxes");
    QTest::addColumn<int>("connected");
    QTest::newRow("80 empty") << 80 << QByteArray() << int(QDialog::Accepted)
                              << QStringList{"STR_ERR_EQUIP_CMD"} << 0;
    QTest::newRow("80 data") << 80 << QByteArray("QV392B", 7) << int(QDialog::Accepted)
                             << QStringList{} << 1;
    QTest::newRow("151") << 151 << QByteArray() << int(QDialog::Accepted)
                         << QStringList{"The command is not supported on the type of machine !"}
                         << 1;
    QTest::newRow("153 empty") << 153 << QByteArray() << int(QDialog::Rejected)
                               << QStringList{"The command is not supported Mode !"} << 0;
    QTest::newRow("153 text") << 153 << QByteArray("Busy: measuring", 16) << int(QDialog::Rejected)
                              << QStringList{"Busy: measuring"} << 0;
    QTest::newRow("160") << 160 << QByteArray("x") << int(QDialog::Accepted)
                         << QStringList{"ERROR_TIME_OUT OK"} << 1;
    QTest::newRow("other") << 77 << QByteArray("x") << int(QDialog::Accepted) << QStringList{} << 1;
}

void TestXferDialog::answerCodes() {
    QFETCH(int, code);
    QFETCH(QByteArray, answer);
    const auto c = static_cast<std::uint8_t>(code);
    sim_->instrument().SetAnswer(c, std::vector<std::uint8_t>(answer.begin(), answer.end()));
    CXferDataDialog dlg;
    dlg.m_nMode = CXferDataDialog::kModeEqInfo;
    dlg.m_cmd = qv::kCmdRequest;
    dlg.m_code = c;
    QFETCH(int, result);
    QCOMPARE(Run(dlg), result);
    QFETCH(QStringList, boxes);
    QCOMPARE(boxes_, boxes);
    QFETCH(int, connected);
    QCOMPARE(dev_->IsConnected(), connected);
    QCOMPARE(dlg.windowTitle(), QStringLiteral("STR_XFER_LOAD_EQINFO"));
    if (result == QDialog::Accepted) {
        QCOMPARE(dev_->LastFrameCode(), std::uint8_t{0});
    }
    if (code == 160) {
        // The dialog answered the time-out with a request of its own.
        QTRY_COMPARE(sim_->instrument().Requests().size(), std::size_t{2});
        QCOMPARE(sim_->instrument().Requests()[1].code, std::uint8_t{160});
    }
}

void TestXferDialog::listAnswerFillsTheTable() {
    std::vector<std::uint8_t> list(840, 'a');
    sim_->instrument().SetAnswer(1, list);
    CXferDataDialog dlg;
    dlg.m_nMode = CXferDataDialog::kModeReadFile;
    dlg.m_cmd = qv::kCmdRequest;
    dlg.m_code = 1;
    dlg.m_strEntryName = std::string(200, 'n');  // cut to 102, then refused by the entry
    QCOMPARE(Run(dlg), int(QDialog::Rejected));
    QCOMPARE(boxes_, QStringList{"STR_ERROR_PACKET"});
    boxes_.clear();
    QCOMPARE(dev_->ConnectTcp(), 1);
    CXferDataDialog again;
    again.m_nMode = CXferDataDialog::kModeReadFile;
    again.m_cmd = qv::kCmdRequest;
    again.m_code = 1;
    again.m_strEntryName = "list.dat";
    again.m_nSize = 840;
    QCOMPARE(Run(again), int(QDialog::Accepted));
    QCOMPARE(dev_->EntryCount(), 10);
    QCOMPARE(again.progress().maximum(), 100);
}

void TestXferDialog::fileNotFoundClearsTheTable() {
    std::vector<std::uint8_t> list(84 * 3, 'b');
    dev_->LoadEntryTable(list.data(), list.size());
    QCOMPARE(dev_->EntryCount(), 3);
    sim_->instrument().SetAnswer(152, std::vector<std::uint8_t>{});
    CXferDataDialog dlg;
    dlg.m_nMode = CXferDataDialog::kModeLoadNamed;
    dlg.m_cmd = qv::kCmdRequest;
    dlg.m_code = 152;
    dlg.m_strLoadName = "setup.sta";
    QCOMPARE(Run(dlg), int(QDialog::Accepted));
    QCOMPARE(boxes_, QStringList{"File list not found!"});
    QCOMPARE(dev_->EntryCount(), 0);
    QCOMPARE(dlg.windowTitle(), QStringLiteral("STR_XFER_LOAD_DATA"));
}

void TestXferDialog::unknownModesCancelAtOnce() {
    for (const int mode : {0, 7, 15}) {
        QVERIFY(dev_->ConnectTcp() == 1 || dev_->IsConnected());
        CXferDataDialog dlg;
        dlg.m_nMode = mode;
        QCOMPARE(Run(dlg), int(QDialog::Rejected));
        QCOMPARE(dev_->IsConnected(), 0);  // cancel disconnects
    }
    QVERIFY(boxes_.isEmpty());
}

void TestXferDialog::connectMode() {
    dev_->Disconnect();
    CXferDataDialog dlg;
    dlg.m_nMode = CXferDataDialog::kModeConnect;
    QCOMPARE(Run(dlg), int(QDialog::Accepted));
    QCOMPARE(dev_->IsConnected(), 1);
    QCOMPARE(dlg.windowTitle(), QStringLiteral("Connecting Port..."));
    dev_->Disconnect();
    sim_->Stop();
    CXferDataDialog fails;
    fails.m_nMode = CXferDataDialog::kModeConnect;
    QCOMPARE(Run(fails), int(QDialog::Rejected));
    QCOMPARE(boxes_, (QStringList{"STR_XFER_CON_FAILED", "STR_DEVCOM_ERR_CHKCABLE"}));
}

void TestXferDialog::aPeerThatHangsUpIsAnEngineError() {
    qv::sim::SimFaults hangUp;
    hangUp.closeAfterFrames = 1;  // mid-answer
    sim_->instrument().SetFaults(hangUp);
    CXferDataDialog dlg;
    dlg.m_nMode = CXferDataDialog::kModeReadFile;
    dlg.m_cmd = qv::kCmdRequest;
    dlg.m_code = qv::REQ_SCREEN;
    dlg.m_strEntryName = "currentdisp.jpg";
    dlg.m_nSize = 400000;
    QCOMPARE(Run(dlg), int(QDialog::Rejected));
    QCOMPARE(dlg.m_nResult, -1);
    QCOMPARE(boxes_, QStringList{"STR_ERROR_TIMEOUT"});
}

void TestXferDialog::usbStartsNothing() {
    CXferDataDialog dlg;
    dlg.m_pDevComm = dev_.get();
    dlg.m_nMethod = 2;
    dlg.m_nMode = CXferDataDialog::kModeEqInfo;
    dlg.show();
    QTest::qWait(100);
    QVERIFY(dlg.isVisible());
    QCOMPARE(dlg.progress().maximum(), 100);
    QVERIFY(sim_->instrument().Requests().empty());
    dlg.close();
}

QTEST_MAIN(TestXferDialog)
#include "tst_xfer_dialog.moc"
