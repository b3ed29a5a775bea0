#include "SendTool.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdarg>
#include <cstdlib>
#include <cwchar>
#include <cwctype>
#include <memory>

#include <dbus/dbus.h>

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

struct Error {
    DBusError e;
    Error() { dbus_error_init(&e); }
    ~Error() { dbus_error_free(&e); }
    bool set() const { return dbus_error_is_set(&e); }
    bool is(const char* name) const { return dbus_error_has_name(&e, name); }
};

struct MessageUnref {
    void operator()(DBusMessage* m) const { dbus_message_unref(m); }
};
using Message = std::unique_ptr<DBusMessage, MessageUnref>;

class Panel {
public:
    explicit Panel(std::ostream& err) : err_(err) {}
    ~Panel() {
        if (bus_) {
            dbus_connection_close(bus_);
            dbus_connection_unref(bus_);
        }
    }

    // The reply, or nothing with status() telling why (and the reason printed).
    Message call(const char* interface, const char* method, int first, ...) {
        if (!connect())
            return nullptr;
        Message m(dbus_message_new_method_call(kService, kPath, interface, method));
        va_list args;
        va_start(args, first);
        dbus_message_append_args_valist(m.get(), first, args);
        va_end(args);
        Error e;
        Message reply(dbus_connection_send_with_reply_and_block(bus_, m.get(), -1, &e.e));
        if (reply)
            return reply;
        if (e.is(DBUS_ERROR_SERVICE_UNKNOWN) || e.is(DBUS_ERROR_NAME_HAS_NO_OWNER))
            return noPanel(std::string("nothing answers as ") + kService + " on the session bus");
        err_ << "domivox-send: " << (e.e.message ? e.e.message : e.e.name) << "\n";
        status_ = NotSent;
        return nullptr;
    }

    // A string-list property of the panel; empty with status() telling why.
    std::vector<std::string> strings(const char* property) {
        std::vector<std::string> list;
        const Message reply = call(DBUS_INTERFACE_PROPERTIES, "Get", DBUS_TYPE_STRING, &kInterface,
                                   DBUS_TYPE_STRING, &property, DBUS_TYPE_INVALID);
        DBusMessageIter it, variant, array;
        if (!reply || !dbus_message_iter_init(reply.get(), &it) ||
            dbus_message_iter_get_arg_type(&it) != DBUS_TYPE_VARIANT)
            return list;
        dbus_message_iter_recurse(&it, &variant);
        if (dbus_message_iter_get_arg_type(&variant) != DBUS_TYPE_ARRAY)
            return list;
        dbus_message_iter_recurse(&variant, &array);
        while (dbus_message_iter_get_arg_type(&array) == DBUS_TYPE_STRING) {
            const char* s = nullptr;
            dbus_message_iter_get_basic(&array, &s);
            list.emplace_back(s);
            dbus_message_iter_next(&array);
        }
        return list;
    }

    int status() const { return status_; }

private:
    bool connect() {
        if (bus_)
            return true;
        const std::string address = sessionBusAddress();
        Error e;
        bus_ = dbus_connection_open_private(address.c_str(), &e.e);
        if (bus_ && !dbus_bus_register(bus_, &e.e)) {
            dbus_connection_close(bus_);
            dbus_connection_unref(bus_);
            bus_ = nullptr;
        }
        if (bus_)
            return true;
        noPanel("there is no session bus at " + address);
        return false;
    }
    Message noPanel(const std::string& why) {
        err_ << "domivox-send: no Domivox panel is running for this user (" << why
             << "). Start Domivox on your desktop first.\n";
        status_ = NoPanel;
        return nullptr;
    }

    std::ostream& err_;
    DBusConnection* bus_ = nullptr;
    int status_ = Sent;
};

int switchDevice(Panel& panel, int device, bool on) {
    const dbus_int32_t d = device;
    const dbus_bool_t o = on;
    const Message reply = panel.call(kInterface, "Switch", DBUS_TYPE_INT32, &d, DBUS_TYPE_BOOLEAN,
                                     &o, DBUS_TYPE_INVALID);
    return reply ? Sent : panel.status();
}

int status(Panel& panel, std::ostream& out) {
    const std::vector<std::string> states = panel.strings("States");
    if (panel.status() != Sent)
        return panel.status();
    const std::vector<std::string> captions = panel.strings("Captions");
    if (panel.status() != Sent)
        return panel.status();
    for (int n = 1; n <= kDevices; ++n)
        out << n << "\t" << (n <= int(captions.size()) ? captions[n - 1] : "") << "\t"
            << (n <= int(states.size()) ? states[n - 1] : "") << "\n";
    return Sent;
}

std::wstring folded(const std::string& text) {
    std::mbstate_t state{};
    const char* src = text.c_str();
    const std::size_t n = std::mbsrtowcs(nullptr, &src, 0, &state);
    if (n == static_cast<std::size_t>(-1))
        return std::wstring(text.begin(), text.end());
    std::wstring wide(n, L'\0');
    src = text.c_str();
    state = {};
    std::mbsrtowcs(&wide[0], &src, n, &state);
    for (wchar_t& c : wide)
        c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
    return wide;
}

int byCaption(Panel& panel, const std::string& caption, std::ostream& err) {
    const std::vector<std::string> all = panel.strings("Captions");
    if (panel.status() != Sent)
        return panel.status();
    // The first button in button order: ON buttons 1..5, then OFF buttons 1..5.
    for (int n = 1; n <= int(all.size()); ++n)
        if (!caption.empty() && folded(all[n - 1]) == folded(caption))
            return n <= kDevices ? switchDevice(panel, n, true)
                                 : switchDevice(panel, n - kDevices, false);
    err << "domivox-send: no button is captioned \"" << caption
        << "\"; domivox-send --captions lists them.\n";
    return NotSent;
}

int usage(std::ostream& err, const std::string& what) {
    err << "domivox-send: " << what << "\nTry domivox-send --help.\n";
    return Usage;
}

bool isNumber(const std::string& s) {
    if (s.empty() || s.size() > 9)
        return false;
    for (std::size_t i = 0; i < s.size(); ++i)
        if (!(std::isdigit(static_cast<unsigned char>(s[i])) || (i == 0 && s[i] == '-')))
            return false;
    return s != "-";
}

std::string lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

std::string sessionBusAddress() {
    const char* set = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (set && *set)
        return set;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string dir =
        runtime && *runtime ? std::string(runtime) : "/run/user/" + std::to_string(::getuid());
    return "unix:path=" + dir + "/bus";
}

int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.empty())
        return usage(err, "say which device to switch");
    const std::string& first = args.front();
    if (first == "--help" || first == "-h") {
        out << kHelp;
        return Sent;
    }
    Panel panel(err);
    if (args.size() == 1 && first == "status")
        return status(panel, out);
    if (args.size() == 1 && first == "--captions") {
        for (const std::string& caption : panel.strings("Captions"))
            out << caption << "\n";
        return panel.status();
    }
    if (args.size() == 2 && first == "pattern") {
        const char* pattern = args[1].c_str();
        return panel.call(kInterface, "Apply", DBUS_TYPE_STRING, &pattern, DBUS_TYPE_INVALID)
                   ? Sent
                   : panel.status();
    }
    if (args.size() == 2 && isNumber(first)) {
        const std::string word = lower(args[1]);
        if (word != "on" && word != "off")
            return usage(err, "\"" + args[1] + "\": say on or off");
        return switchDevice(panel, std::atoi(first.c_str()), word == "on");
    }
    if (args.size() != 1)
        return usage(err, "too many words; quote a caption that has blanks");
    return byCaption(panel, first, err);
}

}  // namespace SendTool
