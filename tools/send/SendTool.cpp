#include "SendTool.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusVariant>

#include "platform/bus/SessionBus.h"

namespace SendTool {
namespace {

const char* const kService = "org.example.domivox";
const char* const kPath = "/org/example/domivox";
const char* const kInterface = "org.example.domivox.Panel1";
constexpr int kDevices = 5;

const char* const kHelp =
    "Usage: domivox-send DEVICE on|off\n"
    "       domivox-send CAPTION\n"
    "       domivox-send pattern PATTERN\n"
    "       domivox-send status\n"
    "\n"
    "Switches a device through the Domivox panel running in your session, exactly as its\n"
    "button would: the same serial port, the same status line.\n"
    "\n"
    "  DEVICE on|off     device 1 to 5 on or off, e.g. domivox-send 3 on\n"
    "  CAPTION           the device and command of the button with this caption (any letter\n"
    "                    case), e.g. domivox-send \"START TV\"\n"
    "  pattern PATTERN   five characters, device 1 first: 1 on, 0 off, anything else leaves\n"
    "                    the device; sent a quarter of a second apart, e.g. 1x0xx\n"
    "  status            five lines: device, its ON button's caption, on/off/unknown\n"
    "  --captions        the ten button captions, one a line\n"
    "  --help            this text\n"
    "\n"
    "Exit status: 0 sent, 1 the panel could not send (the reason is printed), 2 the command\n"
    "line was not understood, 3 no panel is running.\n";

struct Answer {
    int status = Sent;
    QDBusMessage reply;
};

class Panel {
public:
    Panel() : bus_(platform::connectSessionBus(QStringLiteral("domivox-send"))) {}

    Answer call(const QString& method, const QVariantList& args, QTextStream& err) {
        if (!bus_.isConnected())
            return noPanel(
                err,
                QStringLiteral("there is no session bus at %1").arg(platform::sessionBusAddress()));
        // "Interface.Member" names another interface of the same object (Properties).
        const int dot = method.lastIndexOf(QLatin1Char('.'));
        QDBusMessage m = QDBusMessage::createMethodCall(
            QString::fromLatin1(kService), QString::fromLatin1(kPath),
            dot < 0 ? QString::fromLatin1(kInterface) : method.left(dot), method.mid(dot + 1));
        m.setArguments(args);
        const QDBusMessage reply = bus_.call(m);
        if (reply.type() != QDBusMessage::ErrorMessage)
            return {Sent, reply};
        if (QDBusError(reply).type() == QDBusError::ServiceUnknown ||
            reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner"))
            return noPanel(err, QStringLiteral("nothing answers as %1 on the session bus")
                                    .arg(QString::fromLatin1(kService)));
        err << "domivox-send: " << reply.errorMessage() << "\n";
        return {NotSent, reply};
    }

    Answer property(const char* name, QTextStream& err) {
        return call(QStringLiteral("org.freedesktop.DBus.Properties.Get"),
                    {QString::fromLatin1(kInterface), QString::fromLatin1(name)}, err);
    }

private:
    static Answer noPanel(QTextStream& err, const QString& why) {
        err << "domivox-send: no Domivox panel is running for this user (" << why
            << "). Start Domivox on your desktop first.\n";
        return {NoPanel, {}};
    }
    QDBusConnection bus_;
};

QStringList listFrom(const Answer& a) {
    if (a.reply.arguments().isEmpty())
        return {};
    return a.reply.arguments().first().value<QDBusVariant>().variant().toStringList();
}

int switchDevice(Panel& panel, int device, bool on, QTextStream& err) {
    return panel.call(QStringLiteral("Switch"), {device, on}, err).status;
}

int status(Panel& panel, QTextStream& out, QTextStream& err) {
    const Answer states = panel.property("States", err);
    if (states.status != Sent)
        return states.status;
    const Answer captions = panel.property("Captions", err);
    if (captions.status != Sent)
        return captions.status;
    const QStringList s = listFrom(states);
    const QStringList c = listFrom(captions);
    for (int n = 1; n <= kDevices; ++n)
        out << n << "\t" << c.value(n - 1) << "\t" << s.value(n - 1) << "\n";
    return Sent;
}

int captions(Panel& panel, QTextStream& out, QTextStream& err) {
    const Answer a = panel.property("Captions", err);
    for (const QString& caption : listFrom(a))
        out << caption << "\n";
    return a.status;
}

// The button whose caption this is, in button order; 0 when none.
int byCaption(Panel& panel, const QString& caption, QTextStream& err, int* status) {
    const Answer a = panel.property("Captions", err);
    *status = a.status;
    const QStringList all = listFrom(a);
    for (int n = 1; n <= all.size(); ++n)
        if (!caption.isEmpty() && all.at(n - 1).compare(caption, Qt::CaseInsensitive) == 0)
            return n;
    return 0;
}

int usage(QTextStream& err, const QString& what) {
    err << "domivox-send: " << what << "\nTry domivox-send --help.\n";
    return Usage;
}

}  // namespace

int run(const QStringList& args, QTextStream& out, QTextStream& err) {
    if (args.isEmpty())
        return usage(err, QStringLiteral("say which device to switch"));
    const QString first = args.first();
    if (first == QLatin1String("--help") || first == QLatin1String("-h")) {
        out << kHelp;
        return Sent;
    }
    Panel panel;
    if (args.size() == 1 && first == QLatin1String("status"))
        return status(panel, out, err);
    if (args.size() == 1 && first == QLatin1String("--captions"))
        return captions(panel, out, err);
    if (args.size() == 2 && first == QLatin1String("pattern"))
        return panel.call(QStringLiteral("Apply"), {args.at(1)}, err).status;
    bool number = false;
    const int device = first.toInt(&number);
    if (args.size() == 2 && number) {
        const QString word = args.at(1).toLower();
        if (word != QLatin1String("on") && word != QLatin1String("off"))
            return usage(err, QStringLiteral("\"%1\": say on or off").arg(args.at(1)));
        return switchDevice(panel, device, word == QLatin1String("on"), err);
    }
    if (args.size() != 1)
        return usage(err, QStringLiteral("too many words; quote a caption that has blanks"));
    int asked = Sent;
    const int button = byCaption(panel, first, err, &asked);
    if (asked != Sent)
        return asked;
    if (button == 0) {
        err << "domivox-send: no button is captioned \"" << first
            << "\"; domivox-send --captions lists them.\n";
        return NotSent;
    }
    return button <= kDevices ? switchDevice(panel, button, true, err)
                              : switchDevice(panel, button - kDevices, false, err);
}

}  // namespace SendTool
