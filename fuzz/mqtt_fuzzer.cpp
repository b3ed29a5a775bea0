// libFuzzer target for what the panel reads off a broker: the topic of a message (whether it is
// a set for one of our devices) and its payload (whether it is a command), and for the base topic
// and captions the discovery messages are written from. Not part of the normal build; see
// docs/fuzzing.md.
//
// Input: up to the first line feed is a topic (also tried as a base topic and as a caption), the
// rest is a payload.
//
// Besides crashes and sanitizer reports, a run stops when:
//  - a topic names a device that is not 1 to 5, or is not exactly "<base>/<n>/set";
//  - a payload is taken as a command that is not ON or OFF in some case;
//  - a base topic is accepted that holds a wildcard, an empty level or a zero character;
//  - a discovery message is not JSON, or does not carry back the caption and topics it was
//    written from.

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <QByteArray>
#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include "mqtt/MqttTopics.h"

namespace {

[[noreturn]] void fail(const char* what, const QByteArray& detail) {
    std::fprintf(stderr, "FINDING: %s\n  detail: %s\n", what, detail.toHex().constData());
    std::abort();
}

const QString kBase = QStringLiteral("domivox/host");

void checkTopic(const QString& topic) {
    const std::optional<int> device = mqtt::deviceOfSetTopic(kBase, topic);
    if (!device)
        return;
    if (*device < 1 || *device > mqtt::kDevices)
        fail("a device outside 1..5", topic.toUtf8());
    if (topic != mqtt::setTopic(kBase, *device))
        fail("a set topic that is not <base>/<n>/set", topic.toUtf8());
}

void checkPayload(const QByteArray& payload) {
    const std::optional<bool> on = mqtt::parseSwitchPayload(payload);
    if (!on)
        return;
    if (payload.toUpper() != (*on ? "ON" : "OFF"))
        fail("a command read from something other than ON or OFF", payload);
}

void checkBase(const QString& base) {
    if (!mqtt::validBaseTopic(base))
        return;
    if (base.contains(QLatin1Char('+')) || base.contains(QLatin1Char('#')) ||
        base.contains(QChar(0)) || base.contains(QLatin1String("//")) ||
        base.startsWith(QLatin1Char('/')) || base.endsWith(QLatin1Char('/')))
        fail("a base topic accepted that no filter can follow", base.toUtf8());
    // Our own set topics must be read back as ours.
    for (int n = 1; n <= mqtt::kDevices; ++n)
        if (mqtt::deviceOfSetTopic(base, mqtt::setTopic(base, n)) != n)
            fail("our own set topic is not recognised", base.toUtf8());
    const QString id = mqtt::nodeId(base);
    for (QChar c : id)
        if (!(c.isLetterOrNumber() && c.unicode() < 128) && c != QLatin1Char('_') &&
            c != QLatin1Char('-'))
            fail("a node id with a character discovery refuses", id.toUtf8());
}

void checkDiscovery(const QString& caption) {
    const QByteArray json = mqtt::discoveryConfig(kBase, 3, caption);
    QJsonParseError error{};
    const QJsonObject o = QJsonDocument::fromJson(json, &error).object();
    if (error.error != QJsonParseError::NoError)
        fail("discovery message is not JSON", json);
    // A caption is whatever a user typed; it must come back as the entity's name exactly
    // (an empty one gets a name of its own).
    if (!caption.isEmpty() && o.value(QLatin1String("name")).toString() != caption)
        fail("the caption does not come back from the discovery message", json);
    if (o.value(QLatin1String("command_topic")).toString() != mqtt::setTopic(kBase, 3))
        fail("the discovery message names the wrong command topic", json);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    const qsizetype cut = input.indexOf('\n');
    const QByteArray first = cut < 0 ? input : input.left(cut);
    const QByteArray payload = cut < 0 ? QByteArray() : input.mid(cut + 1);
    const QString topic = QString::fromUtf8(first);
    checkTopic(topic);
    checkTopic(kBase + QLatin1Char('/') + topic);
    checkPayload(payload);
    checkPayload(first);
    checkBase(topic);
    // JSON text holds no lone surrogates: a caption is valid text by the time it is one.
    if (topic.isValidUtf16())
        checkDiscovery(topic);
    return 0;
}
