#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPushButton>
#include <QtTest>

#include "../support/MosquittoBroker.h"
#include "../support/TestSupport.h"
#include "device/DeviceAccount.h"
#include "mainwindow/Form1.h"
#include "mqtt/MqttBridge.h"
#include "mqtt/MqttConfig.h"
#include "platform/ui/WindowRegistry.h"

using mqtt::MqttBridge;
using testsupport::MosquittoBroker;
using testsupport::Subscriber;

namespace {
const QString kBase = QStringLiteral("domivox/test");
QString topic(int device, const char* leaf) {
    return QStringLiteral("%1/%2/%3").arg(kBase).arg(device).arg(QLatin1String(leaf));
}
}  // namespace

// The panel on a broker of the test's own, with its board on a pseudo-terminal.
class TestMqtt : public QObject {
    Q_OBJECT

    std::unique_ptr<testsupport::Sandbox> box;
    std::unique_ptr<MosquittoBroker> broker;

    // The panel as a user left it: connected, discovery as given.
    void startPanel(bool discovery = true) {
        testsupport::storeFactoryNames();
        mqtt::MqttConfig c;
        c.host = QStringLiteral("127.0.0.1");
        c.port = broker->port();
        c.baseTopic = kBase;
        c.discovery = discovery;
        c.connectAtStart = true;
        c.save();
        QVERIFY(platform::WindowRegistry::show<mainwindow::Form1>());
        QTRY_VERIFY_WITH_TIMEOUT(connected(), testsupport::allowMs(5000));
    }
    // Taking sets, not only connected.
    static bool connected() { return MqttBridge::instance().statusText().startsWith("Connected"); }

private Q_SLOTS:
    void init() {
        box = std::make_unique<testsupport::Sandbox>();
        device::DeviceAccount::instance().reset();
        broker = std::make_unique<MosquittoBroker>();
        QVERIFY(broker->start());
    }
    void cleanup() {
        MqttBridge::instance().disconnectFrom();
        broker.reset();
        box.reset();
    }

    void setSwitchesTheDeviceAndPublishesItsState_data() {
        QTest::addColumn<int>("device");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<char>("letter");
        QTest::addColumn<QByteArray>("state");
        for (int n = 1; n <= 5; ++n) {
            QTest::addRow("%d on", n) << n << QByteArray(n % 2 ? "ON" : "on")
                                      << char('a' + 2 * n - 2) << QByteArray("ON");
            QTest::addRow("%d off", n) << n << QByteArray(n % 2 ? "Off" : "OFF")
                                       << char('a' + 2 * n - 1) << QByteArray("OFF");
        }
    }
    void setSwitchesTheDeviceAndPublishesItsState() {
        QFETCH(int, device);
        QFETCH(QByteArray, payload);
        QFETCH(char, letter);
        QFETCH(QByteArray, state);
        startPanel();
        Subscriber states(*broker, kBase + QStringLiteral("/+/state"));
        QVERIFY(states.ready());
        QVERIFY(broker->publish(topic(device, "set"), payload));
        QCOMPARE(box->pty().read(1), QByteArray(1, letter));
        QTRY_COMPARE(states.payloads(topic(device, "state")), QList<QByteArray>{state});
        QCOMPARE(broker->retained(topic(device, "state")), std::optional<QByteArray>(state));
    }

    void everySenderPublishesTheState_data() {
        QTest::addColumn<int>("sender");
        QTest::addRow("button") << int(device::Sender::Button);
        QTest::addRow("countdown") << int(device::Sender::Countdown);
        QTest::addRow("web page") << int(device::Sender::WebPage);
        QTest::addRow("bus") << int(device::Sender::Bus);
    }
    void everySenderPublishesTheState() {
        QFETCH(int, sender);
        startPanel();
        Subscriber states(*broker, kBase + QStringLiteral("/+/state"));
        QVERIFY(states.ready());
        if (device::Sender(sender) == device::Sender::Button)
            platform::WindowRegistry::find<mainwindow::Form1>()->Command(9)->click();
        else
            QVERIFY(device::DeviceAccount::instance()
                        .switchDevice(4, false, device::Sender(sender))
                        .sent());
        QCOMPARE(box->pty().read(1), QByteArray("h"));
        QTRY_COMPARE(states.payloads(topic(4, "state")), QList<QByteArray>{"OFF"});
    }

    // Nothing anyone may send on the broker reaches the board unless it is a command for one
    // of our five devices; and the bridge still switches after it.
    void badMessagesSwitchNothing_data() {
        QTest::addColumn<QString>("where");
        QTest::addColumn<QByteArray>("payload");
        QTest::addRow("empty") << topic(1, "set") << QByteArray();
        QTest::addRow("binary") << topic(1, "set") << QByteArray("O\0N\xff", 4);
        QTest::addRow("trailing blank") << topic(1, "set") << QByteArray("on ");
        QTest::addRow("leading blank") << topic(1, "set") << QByteArray(" OFF");
        QTest::addRow("a word") << topic(1, "set") << QByteArray("ONE");
        QTest::addRow("number") << topic(1, "set") << QByteArray("1");
        QTest::addRow("huge") << topic(1, "set") << QByteArray(8 << 20, 'N').prepend("O");
        QTest::addRow("huge ON") << topic(1, "set") << QByteArray("ON").append(4 << 20, ' ');
        QTest::addRow("device 6") << topic(6, "set") << QByteArray("ON");
        QTest::addRow("device 0") << topic(0, "set") << QByteArray("ON");
        QTest::addRow("device 01") << kBase + QStringLiteral("/01/set") << QByteArray("ON");
        QTest::addRow("deeper") << topic(1, "set") + QStringLiteral("/x") << QByteArray("ON");
        QTest::addRow("state topic") << topic(1, "state") << QByteArray("ON");
    }
    void badMessagesSwitchNothing() {
        QFETCH(QString, where);
        QFETCH(QByteArray, payload);
        startPanel();
        QVERIFY(broker->publish(where, payload));
        QVERIFY(broker->publish(topic(2, "set"), "ON"));
        // The good one after it arrives alone.
        QCOMPARE(box->pty().read(1), QByteArray("c"));
        QCOMPARE(box->pty().drain(), QByteArray());
    }

    // Announced field by field; taken back when turned off or announced under another node.
    void discoveryDescribesEachDeviceAndIsClearedWhenItChanges_data() {
        QTest::addColumn<bool>("discovery");
        QTest::addColumn<QString>("base");
        QTest::addRow("turned off") << false << kBase;
        QTest::addRow("another base topic") << true << QStringLiteral("house/panel");
    }
    void discoveryDescribesEachDeviceAndIsClearedWhenItChanges() {
        QFETCH(bool, discovery);
        QFETCH(QString, base);
        startPanel(true);
        const QString config = QStringLiteral("homeassistant/switch/domivox_test/%1/config");
        for (int n = 1; n <= 5; ++n) {
            QTRY_VERIFY(broker->retained(config.arg(n)).has_value());
            const QJsonObject o =
                QJsonDocument::fromJson(*broker->retained(config.arg(n))).object();
            QCOMPARE(o["name"].toString(), QString::fromLatin1(testsupport::kFactoryOn[n - 1]));
            QCOMPARE(o["unique_id"].toString(), QStringLiteral("domivox_test_%1").arg(n));
            QCOMPARE(o["command_topic"].toString(), topic(n, "set"));
            QCOMPARE(o["state_topic"].toString(), topic(n, "state"));
            QCOMPARE(o["availability_topic"].toString(), kBase + QStringLiteral("/status"));
            QCOMPARE(o["payload_on"].toString(), QStringLiteral("ON"));
            QCOMPARE(o["payload_off"].toString(), QStringLiteral("OFF"));
            QCOMPARE(o["optimistic"].toBool(), true);
            QCOMPARE(o["device"].toObject()["identifiers"].toArray().first().toString(),
                     QStringLiteral("domivox_test"));
        }
        QCOMPARE(broker->retained(kBase + "/status"), std::optional<QByteArray>("online"));
        QCOMPARE(broker->retained(topic(3, "name")), std::optional<QByteArray>("FRONT LIGHTS ON"));

        Subscriber announced(*broker, QStringLiteral("homeassistant/#"));
        QVERIFY(announced.ready());
        mqtt::MqttConfig changed = MqttBridge::instance().config();
        changed.discovery = discovery;
        changed.baseTopic = base;
        MqttBridge::instance().connectTo(changed);
        QTRY_VERIFY(connected());
        for (int n = 1; n <= 5; ++n)
            QTRY_COMPARE(announced.payloads(config.arg(n)).value(1, "none"), QByteArray());
        QVERIFY(!broker->retained(config.arg(1)));
        const auto moved =
            broker->retained(QStringLiteral("homeassistant/switch/house_panel/1/config"));
        QCOMPARE(moved.has_value(), discovery);
    }

    void aRenamedDeviceIsRepublished() {
        startPanel(true);
        platform::WindowRegistry::find<mainwindow::Form1>()->Command(2)->setText("WATER");
        device::DeviceAccount::instance().noteCaptionsChanged();
        QTRY_COMPARE(broker->retained(topic(2, "name")), std::optional<QByteArray>("WATER"));
        const auto config = broker->retained("homeassistant/switch/domivox_test/2/config");
        QVERIFY(config);
        QCOMPARE(QJsonDocument::fromJson(*config).object()["name"].toString(), "WATER");
    }

    void reconnectsAfterTheBrokerRestartsAndSwitchesAgain() {
        startPanel();
        QVERIFY(broker->publish(topic(5, "set"), "ON"));
        QCOMPARE(box->pty().read(1), QByteArray("i"));
        broker->kill();
        QTRY_VERIFY(!MqttBridge::instance().isConnected());
        QVERIFY(broker->start());  // a broker without memory: everything must come again
        QTRY_VERIFY_WITH_TIMEOUT(connected(), testsupport::allowMs(5000));
        QTRY_COMPARE(broker->retained(topic(5, "state")), std::optional<QByteArray>("ON"));
        QCOMPARE(broker->retained(kBase + "/status"), std::optional<QByteArray>("online"));
        QVERIFY(broker->publish(topic(5, "set"), "OFF"));
        QCOMPARE(box->pty().read(1), QByteArray("j"));
    }

    void aCleanDisconnectSaysOffline() {
        startPanel();
        MqttBridge::instance().disconnectFrom();
        QTRY_COMPARE(broker->retained(kBase + "/status"), std::optional<QByteArray>("offline"));
    }
};

QTEST_MAIN(TestMqtt)
#include "tst_mqtt.moc"
