#pragma once

#include <optional>

#include <QByteArray>
#include <QString>

// What the panel says on a broker and what it takes from it. Everything here reads text that
// anyone on the broker may send, so each reader accepts exactly its form and nothing near it.
namespace mqtt {

constexpr int kDevices = 5;

// "domivox/<host name>", the host name reduced to characters a topic level and a discovery
// node id both take.
QString defaultBaseTopic();

// A base topic a broker accepts for publishing and that our own filters can follow: not empty,
// no wildcards, no empty level, no zero character, at most 200 bytes.
bool validBaseTopic(const QString& base);

// Letters, digits, '_' and '-' only, for discovery's node and object ids.
QString nodeId(const QString& base);

QString stateTopic(const QString& base, int device);
QString setTopic(const QString& base, int device);
QString nameTopic(const QString& base, int device);
QString statusTopic(const QString& base);
QString setFilter(const QString& base);  // <base>/+/set
QString discoveryTopic(const QString& base, int device);

// Device 1..5 for exactly "<base>/<n>/set"; nothing for anything else.
std::optional<int> deviceOfSetTopic(const QString& base, const QString& topic);

// ON or OFF in any case, nothing around them; anything else is no command.
std::optional<bool> parseSwitchPayload(const QByteArray& payload);

// The retained discovery message for device n, named by its ON button's caption.
QByteArray discoveryConfig(const QString& base, int device, const QString& caption);

}  // namespace mqtt
