#include <QLineEdit>
#include <QtTest>

#include "dialogs/CIpAddressCtrl.h"
#include "dialogs/DottedQuad.h"

Q_DECLARE_METATYPE(qv::Quad)

class AddressTest : public QObject {
    Q_OBJECT
  private slots:
    void parse_data();
    void parse();
    void formatRoundTrip();
    void controlSetGet();
    void controlTyping_data();
    void controlTyping();
    void controlBackspaceReturnsToPreviousField();
};

namespace {
qv::Quad Q(int a, int b, int c, int d) {
    return qv::Quad{static_cast<std::uint8_t>(a), static_cast<std::uint8_t>(b),
                    static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(d)};
}
}  // namespace

void AddressTest::parse_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<qv::Quad>("quad");
    QTest::newRow("plain") << QByteArray("192.168.1.1") << Q(192, 168, 1, 1);
    QTest::newRow("two dots") << QByteArray("192.168.1") << Q(192, 168, 0, 1);
    QTest::newRow("one dot") << QByteArray("1.2") << Q(1, 0, 0, 2);
    QTest::newRow("no dot") << QByteArray("12") << Q(0, 0, 0, 12);
    QTest::newRow("low 8 bits") << QByteArray("300.1.2.3") << Q(44, 1, 2, 3);
    QTest::newRow("wraps") << QByteArray("256.257.-256.511") << Q(0, 1, 0, 255);
    QTest::newRow("empty") << QByteArray("") << Q(0, 0, 0, 0);
    QTest::newRow("blanks and signs") << QByteArray("  10. +20.-1.\t4") << Q(10, 20, 255, 4);
    QTest::newRow("two signs") << QByteArray("+-5.1.1.1") << Q(0, 1, 1, 1);
    QTest::newRow("sign then blank") << QByteArray("- 5.1.1.1") << Q(0, 1, 1, 1);
    QTest::newRow("letters") << QByteArray("a.b.c.d") << Q(0, 0, 0, 0);
    QTest::newRow("trailing junk") << QByteArray("10x.20y.30z.40 w") << Q(10, 20, 30, 40);
    QTest::newRow("empty field") << QByteArray("1..3.4") << Q(1, 0, 3, 4);
    QTest::newRow("extra fields") << QByteArray("1.2.3.4.5") << Q(1, 2, 3, 4);
    QTest::newRow("huge saturates") << QByteArray("99999999999999999999.1.1.1") << Q(255, 1, 1, 1);
    QTest::newRow("huge negative") << QByteArray("-99999999999999999999.1.1.1") << Q(0, 1, 1, 1);
}

void AddressTest::parse() {
    QFETCH(QByteArray, text);
    QFETCH(qv::Quad, quad);
    const qv::Quad got = qv::ParseDottedQuad(
        std::string_view(text.constData(), static_cast<std::size_t>(text.size())));
    QCOMPARE(QString::fromStdString(qv::FormatDottedQuad(got)),
             QString::fromStdString(qv::FormatDottedQuad(quad)));
}

void AddressTest::formatRoundTrip() {
    QCOMPARE(qv::FormatDottedQuad(Q(255, 0, 10, 1)), std::string("255.0.10.1"));
    QCOMPARE(qv::FormatDottedQuad(Q(0, 0, 0, 0)), std::string("0.0.0.0"));
    const std::string text = "10.0.0.5";
    QCOMPARE(qv::FormatDottedQuad(qv::ParseDottedQuad(text)), text);
}

void AddressTest::controlSetGet() {
    CIpAddressCtrl ctrl;
    QVERIFY(ctrl.IsBlank());
    QCOMPARE(ctrl.GetAddress(), Q(0, 0, 0, 0));  // blank fields read as 0
    ctrl.SetAddress(Q(172, 16, 254, 3));
    QCOMPARE(ctrl.GetAddress(), Q(172, 16, 254, 3));
    QCOMPARE(ctrl.Field(2)->text(), QString("254"));
    ctrl.ClearAddress();
    QVERIFY(ctrl.IsBlank());
}

void AddressTest::controlTyping_data() {
    QTest::addColumn<QString>("keys");
    QTest::addColumn<qv::Quad>("quad");
    QTest::newRow("dots move on") << "10.0.0.5" << Q(10, 0, 0, 5);
    QTest::newRow("third digit moves on") << "192168001002" << Q(192, 168, 1, 2);
    QTest::newRow("mixed") << "192.16.7.8" << Q(192, 16, 7, 8);
    QTest::newRow("above 255 clamps") << "300.999.1.2" << Q(255, 255, 1, 2);
    QTest::newRow("dot in empty field stays") << ".1.2.3.4" << Q(1, 2, 3, 4);
    QTest::newRow("letters ignored") << "1a.b2.3c.4" << Q(1, 2, 3, 4);
    QTest::newRow("extra dots ignored") << "1.2.3.4.5" << Q(1, 2, 3, 45);
}

void AddressTest::controlTyping() {
    QFETCH(QString, keys);
    QFETCH(qv::Quad, quad);
    CIpAddressCtrl ctrl;
    ctrl.resize(200, 24);
    ctrl.show();
    QVERIFY(QTest::qWaitForWindowExposed(&ctrl));
    ctrl.activateWindow();
    ctrl.Field(0)->setFocus();
    for (const QChar c : keys) {
        QWidget* target = QApplication::focusWidget();
        QVERIFY(target != nullptr);
        QTest::keyClicks(target, QString(c));
    }
    QCOMPARE(ctrl.GetAddress(), quad);
}

void AddressTest::controlBackspaceReturnsToPreviousField() {
    CIpAddressCtrl ctrl;
    ctrl.resize(200, 24);
    ctrl.show();
    QVERIFY(QTest::qWaitForWindowExposed(&ctrl));
    ctrl.activateWindow();
    ctrl.Field(0)->setFocus();
    QTest::keyClicks(ctrl.Field(0), "12.");
    QCOMPARE(QApplication::focusWidget(), ctrl.Field(1));
    QTest::keyClick(ctrl.Field(1), Qt::Key_Backspace);
    QCOMPARE(QApplication::focusWidget(), ctrl.Field(0));
    QTest::keyClick(ctrl.Field(0), Qt::Key_Backspace);
    QCOMPARE(ctrl.Field(0)->text(), QString("1"));
}

QTEST_MAIN(AddressTest)
#include "tst_address.moc"
