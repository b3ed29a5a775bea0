#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QtTest>

#include "../support/MosquittoBroker.h"
#include "../support/TestSupport.h"
#include "mainwindow/Form1.h"
#include "mqtt/MqttBridge.h"
#include "mqtt/MqttConfig.h"
#include "mqtt/mqttsettings.h"
#include "platform/ui/WindowRegistry.h"

using mqtt::MqttBridge;
using mqtt::mqttsettings;
using platform::WindowRegistry;
using testsupport::MosquittoBroker;

namespace {

// Past the first retry of the bridge's back-off (1 s by the clock, however slow the build): a
// refusal must not be tried again within it. Not a bound, so not stretched.
constexpr int kRetryWindowMs = 1500;

bool run(const QString& program, const QStringList& args) {
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(program, args);
    return p.waitForFinished(testsupport::allowMs(10000)) && p.exitCode() == 0;
}

// A certificate authority the panel is told to trust, one it is not, and server certificates.
struct Certificates {
    QTemporaryDir dir;
    QString path(const char* name) const { return dir.filePath(QLatin1String(name)); }

    bool authority(const char* name) {
        return run("openssl",
                   {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                    "-nodes", "-days", "2", "-subj", QStringLiteral("/CN=%1").arg(name), "-keyout",
                    path(name) + ".key", "-out", path(name) + ".pem"});
    }
    bool server(const char* name, const char* ca, const QString& names) {
        const QString ext = path(name) + ".ext";
        return testsupport::writeFile(ext, "subjectAltName=" + names.toUtf8() + "\n") &&
               run("openssl", {"req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                               "-nodes", "-subj", "/CN=broker", "-keyout", path(name) + ".key",
                               "-out", path(name) + ".csr"}) &&
               run("openssl", {"x509", "-req", "-in", path(name) + ".csr", "-CA", path(ca) + ".pem",
                               "-CAkey", path(ca) + ".key", "-CAcreateserial", "-days", "2",
                               "-extfile", ext, "-out", path(name) + ".pem"});
    }
};

}  // namespace

// The panel's connection as the settings window makes it: logins, certificates, and the
// settings file.
class TestMqttBroker : public QObject {
    Q_OBJECT

    std::unique_ptr<testsupport::Sandbox> box;
    Certificates certs;

    mqttsettings* window(const QString& host, int port) {
        mqttsettings* w = WindowRegistry::show<mqttsettings>();
        w->Text1()->setText(host);
        w->Text2()->setText(QString::number(port));
        w->Text6()->setText("domivox/test");
        return w;
    }
    int connections(const MosquittoBroker& broker, QString* log) {
        *log = broker.log();
        return int(log->count("Sending CONNACK"));
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(certs.authority("trusted") && certs.authority("stranger"));
        QVERIFY(certs.server("sound", "trusted", "DNS:localhost,IP:127.0.0.1"));
        QVERIFY(certs.server("elsewhere", "trusted", "DNS:elsewhere.example"));
        QVERIFY(certs.server("unknown", "stranger", "DNS:localhost,IP:127.0.0.1"));
    }
    void init() {
        box = std::make_unique<testsupport::Sandbox>();
        testsupport::storeFactoryNames();
        QVERIFY(WindowRegistry::load<mainwindow::Form1>());
    }
    void cleanup() {
        MqttBridge::instance().disconnectFrom();
        box.reset();
    }

    void login_data() {
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("accepted");
        QTest::addRow("right") << "s3cret pass" << true;
        QTest::addRow("wrong") << "n0t-the-one" << false;
    }
    void login() {
        QFETCH(QString, password);
        QFETCH(bool, accepted);
        QTemporaryDir dir;
        const QString file = dir.filePath("passwords");
        QVERIFY(run("mosquitto_passwd", {"-c", "-b", file, "alice", "s3cret pass"}));
        MosquittoBroker broker("allow_anonymous false\npassword_file " + file);
        QVERIFY(broker.start());
        mqttsettings* w = window("127.0.0.1", broker.port());
        w->Text4()->setText("alice");
        w->Text5()->setText(password);
        w->Command1()->click();
        if (accepted) {
            QTRY_VERIFY(w->lblStatus()->text().startsWith("Connected"));
            return;
        }
        QTRY_VERIFY(w->lblStatus()->text().contains("refused the login"));
        QString log;
        QTest::qWait(kRetryWindowMs);
        QVERIFY2(connections(broker, &log) == 1, qPrintable(log));
        QVERIFY(!MqttBridge::instance().isConnected());
        QVERIFY(!w->lblStatus()->text().contains(password));
        QVERIFY(!log.contains(password));
    }

    void certificate_data() {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("authority");
        QTest::addColumn<bool>("accepted");
        QTest::addRow("trusted") << "sound"
                                 << "trusted" << true;
        QTest::addRow("unknown authority") << "unknown"
                                           << "trusted" << false;
        QTest::addRow("another host's") << "elsewhere"
                                        << "trusted" << false;
        QTest::addRow("system authorities only") << "sound"
                                                 << "" << false;
    }
    void certificate() {
        QFETCH(QString, server);
        QFETCH(QString, authority);
        QFETCH(bool, accepted);
        const QString s = certs.dir.filePath(server);
        MosquittoBroker broker(
            QStringLiteral("allow_anonymous true\ncertfile %1.pem\nkeyfile %1.key").arg(s));
        QVERIFY(broker.start());
        mqttsettings* w = window("localhost", broker.port());
        w->Check1()->setChecked(true);
        w->Text3()->setText(authority.isEmpty() ? QString()
                                                : certs.dir.filePath(authority + ".pem"));
        w->Command1()->click();
        if (accepted) {
            QTRY_VERIFY2(MqttBridge::instance().isConnected(), qPrintable(w->lblStatus()->text()));
            return;
        }
        QTRY_VERIFY2(w->lblStatus()->text().contains("certificate"),
                     qPrintable(w->lblStatus()->text()));
        const QString told = w->lblStatus()->text();
        QTest::qWait(kRetryWindowMs);
        QCOMPARE(w->lblStatus()->text(), told);  // not tried again
        QVERIFY(!MqttBridge::instance().isConnected());
    }

    // What the window keeps goes into its own section; the program's other values and
    // whatever else the file holds stay as they stood.
    void settingsRoundTrip_data() {
        QTest::addColumn<QStringList>("fields");  // host port cafile user password base
        QTest::addColumn<bool>("tls");
        QTest::addColumn<bool>("discovery");
        QTest::addRow("plain") << QStringList{"127.0.0.1", "1883", "", "", "", "domivox/kitchen"}
                               << false << true;
        QTest::addRow("everything")
            << QStringList{"broker.home.example", "8883",           "/etc/ca.pem", "bob",
                           "pä ss=\"x\";#",       "house/panel two"}
            << true << false;
    }
    void settingsRoundTrip() {
        QFETCH(QStringList, fields);
        QFETCH(bool, tls);
        QFETCH(bool, discovery);
        const QByteArray before = testsupport::readFile(box->settingsFile()) +
                                  "\n[Other]\n; kept as it is\nodd line without equals\n";
        QVERIFY(testsupport::writeFile(box->settingsFile(), before));
        mqttsettings* w = WindowRegistry::show<mqttsettings>();
        QLineEdit* texts[] = {w->Text1(), w->Text2(), w->Text3(),
                              w->Text4(), w->Text5(), w->Text6()};
        for (int k = 0; k < 6; ++k)
            texts[k]->setText(fields[k]);
        w->Check1()->setChecked(tls);
        w->Check2()->setChecked(discovery);
        w->Command2()->click();  // keeps what is typed, without connecting
        QVERIFY(testsupport::readFile(box->settingsFile()).startsWith(before));

        w->Unload();
        testsupport::flushDeletes();
        w = WindowRegistry::show<mqttsettings>();
        QLineEdit* again[] = {w->Text1(), w->Text2(), w->Text3(),
                              w->Text4(), w->Text5(), w->Text6()};
        for (int k = 0; k < 6; ++k)
            QCOMPARE(again[k]->text(), fields[k]);
        QCOMPARE(w->Check1()->isChecked(), tls);
        QCOMPARE(w->Check2()->isChecked(), discovery);
        QCOMPARE(mqtt::MqttConfig::load().connectAtStart, false);
    }

    // Connect is remembered: the next start connects by itself.
    void connectIsRememberedForTheNextStart() {
        MosquittoBroker broker;
        QVERIFY(broker.start());
        window("127.0.0.1", broker.port())->Command1()->click();
        QTRY_VERIFY(MqttBridge::instance().isConnected());
        MqttBridge::instance().disconnectFrom();  // as the end of the program leaves it
        QVERIFY(mqtt::MqttConfig::load().wantedAtStart());
        MqttBridge::startIfWanted();
        QTRY_VERIFY(MqttBridge::instance().isConnected());
    }
};

QTEST_MAIN(TestMqttBroker)
#include "tst_mqttbroker.moc"
