#include "mainwindow/Form1.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>

#include "device/BoardLink.h"
#include "device/DeviceAccount.h"
#include "device/DeviceCommand.h"
#include "editors/caption1.h"
#include "editors/settings.h"
#include "lock/password.h"
#include "mqtt/MqttBridge.h"
#include "mqtt/mqttsettings.h"
#include "platform/Errors.h"
#include "platform/app/AppInfo.h"
#include "platform/clock/IntervalTimer.h"
#include "platform/serial/SerialControl.h"
#include "platform/ui/Colors.h"
#include "platform/ui/Controls.h"
#include "platform/ui/Fonts.h"
#include "platform/ui/MessageBox.h"
#include "platform/ui/Picture.h"
#include "platform/ui/PictureBox.h"
#include "platform/ui/Twips.h"
#include "platform/ui/WindowRegistry.h"
#include "remote/InternetSwitch.h"
#include "remote/internetsettings.h"
#include "schedule/frmTimer.h"
#include "startup/Helpme.h"
#include "store/Module1.h"

using device::BoardLink;
using device::DeviceCommand;
using editors::caption1;
using editors::settings;
using lock::password;
using platform::placeTwips;
using remote::internetsettings;
using schedule::frmTimer;
using startup::Helpme;

// The design picture is compiled into the core library; a static library's resources need an
// explicit hook or the linker drops them.
static void initAssets() {
    Q_INIT_RESOURCE(assets);
}

namespace {

const char* const kStartupFailure =
    "PLEASE CONFIGURE YOUR SETTINGS  In addition your serial port must be on com 1";
const char* const kDisclaimer =
    "We nor Quennart, can be held resonsible for any damages,faults, or harm the may occur or be "
    "caused from the use of this software.  Please use with care.";
const char* const kAbout =
    "Domivox was made by Quennart in 2026 - thank you! Please visit our web site at "
    "www.quennart.example";

QGroupBox* makeFrame(QWidget* parent, const char* name, const char* caption, int left, int top,
                     int width, int height) {
    QGroupBox* f = platform::addFrame(parent, QString::fromLatin1(name),
                                      QString::fromLatin1(caption), left, top, width, height);
    platform::setBackColor(f, platform::kColorBlack);
    platform::setForeColor(f, platform::kColorSilver);
    return f;
}

}  // namespace

namespace mainwindow {

void Form1::install() {
    device::installMainPanel(
        {[]() -> device::MainPanel* { return platform::WindowRegistry::find<Form1>(); },
         []() -> device::MainPanel* { return platform::WindowRegistry::load<Form1>(); }});
}

Form1::Form1() {
    initAssets();
    setObjectName(QStringLiteral("Form1"));
    setCaption(QStringLiteral("Domivox"));
    setClientSizeTwips(10350, 6000);
    buildControls();
    buildMenu();
}

void Form1::buildControls() {
    using platform::addButton;
    using platform::addLabel;
    using platform::addTextBox;
    QWidget* c = client();

    frame1_ = makeFrame(c, "Frame1", "ON CONTROLS", 240, 120, 2895, 4095);
    frame3_ = makeFrame(c, "Frame3", "OFF CONTROLS", 3120, 120, 2415, 4095);
    frame2_ = makeFrame(c, "Frame2", "DEVICE STATUS", 240, 4800, 9975, 1095);

    static const char* const kCaptions[10] = {
        "START TV",         "START SPRINKLER",  "FRONT LIGHTS ON", "START POOL FILTER",
        "OPEN GARAGE DOOR", "STOP TV",          "STOP SPINKLER",   "FRONT LIGHTS OFF",
        "STOP POOL FILTER", "CLOSE GARAGE DOOR"};
    static const int kTops[5] = {0, 720, 1440, 2160, 2880};
    for (int n = 1; n <= 10; ++n) {
        const QString name = QStringLiteral("Command%1").arg(n);
        const QString caption = QString::fromLatin1(kCaptions[n - 1]);
        // The ON buttons stand on the window in front of their frame; the OFF buttons are
        // inside theirs.
        QPushButton* b =
            n <= 5 ? addButton(c, name, caption, 720, 480 + kTops[n - 1], 1935, 495)
                   : addButton(frame3_, name, caption, 120, 360 + kTops[n - 6], 2175, 495);
        b->raise();
        commands_[n - 1] = b;
    }

    static const int kLefts[5] = {360, 2280, 4320, 6240, 8160};
    static const int kWidths[5] = {1695, 1815, 1695, 1695, 1575};
    for (int n = 1; n <= 5; ++n) {
        QLabel* l = addLabel(frame2_, QStringLiteral("Label%1").arg(n), QStringLiteral("OFF STATE"),
                             kLefts[n - 1], 360, kWidths[n - 1], 495);
        platform::setBackColor(l, platform::kColorRed);
        platform::setForeColor(l, platform::kColorBlack);
        labels_[n - 1] = l;
    }

    QLabel* hint = addLabel(
        c, QStringLiteral("Label6"),
        QStringLiteral(
            "Please Select a picture to be loaded No bigger then 4500 x 4500! PICTURE GOES HERE"),
        6240, 960, 3615, 2535);
    hint->setFont(platform::designFont(QStringLiteral("MS Sans Serif"), 12, true));
    labels_[5] = hint;

    image1_ = new platform::PictureBox(c);
    image1_->setObjectName(QStringLiteral("Image1"));
    placeTwips(image1_, 5760, 120, 4500, 4500);
    image1_->setPicture(QPixmap(QStringLiteral(":/serialcable.bmp")));
    image1_->raise();  // a loaded picture covers the hint

    text69_ = addTextBox(c, QStringLiteral("Text69"), QString(), 600, 4440, 150, 285);
    text69_->hide();
    text20_ = addTextBox(c, QStringLiteral("text20"), QString(), 840, 4440, 150, 195);
    text20_->hide();

    link_ = new BoardLink(this);
    connect(&link_->port(), &platform::SerialControl::OnComm, this, &Form1::MSComm1_OnComm);

    timer19_ = addTimer(QStringLiteral("Timer19"), 4000, false, [this] { Timer19_Timer(); });

    void (Form1::*const clicks[10])() = {&Form1::Command1_Click, &Form1::Command2_Click,
                                         &Form1::Command3_Click, &Form1::Command4_Click,
                                         &Form1::Command5_Click, &Form1::Command6_Click,
                                         &Form1::Command7_Click, &Form1::Command8_Click,
                                         &Form1::Command9_Click, &Form1::Command10_Click};
    for (int n = 0; n < 10; ++n)
        connect(commands_[n], &QPushButton::clicked, this, clicks[n]);
}

void Form1::buildMenu() {
    struct Item {
        const char* name;
        const char* caption;
        void (Form1::*handler)();
    };
    struct Top {
        const char* name;
        const char* caption;
        std::initializer_list<Item> items;
    };
    const Top menus[] = {
        {"file",
         "File",
         {{"controlname", "Edit Control Names", &Form1::controlname_Click},
          {"cap", "Edit Picture/Caption", &Form1::cap_Click},
          {"tmfunction", "Timer Function", &Form1::tmfunction_Click},
          {"lock", "Lock Program", &Form1::lock_Click},
          {"dis", "Disclaimer", &Form1::dis_Click},
          {"exit", "Exit", &Form1::exit_Click}}},
        {"int",
         "Internet",
         {{"oncon", "Turn Internet Controls On", &Form1::oncon_Click},
          {"off", "Turn Internet Controls Off", &Form1::off_Click},
          {"internet", "Setup Internet Control", &Form1::internet_Click},
          {"mqtt", "Setup MQTT Broker", &Form1::mqtt_Click}}},
        {"ab", "About", {{"about", "About", &Form1::about_Click}}},
        {"help", "Help", {{"helpit", "Help File", &Form1::helpit_Click}}},
    };
    for (const Top& top : menus) {
        QMenu* m = addMenu(QString::fromLatin1(top.name), QString::fromLatin1(top.caption));
        for (const Item& item : top.items)
            addMenuItem(m, QString::fromLatin1(item.name), QString::fromLatin1(item.caption),
                        [this, handler = item.handler] { (this->*handler)(); });
    }
}

void Form1::Form_Load() {
    try {
        for (int n = 1; n <= 5; ++n)
            Command(n)->setText(Module1::ReadSetting(Setting::ONBUTTON(n)));
        for (int n = 1; n <= 5; ++n)
            Command(n + 5)->setText(Module1::ReadSetting(Setting::OFFBUTTON(n)));
        device::DeviceAccount::instance().noteCaptionsChanged();

        text69_->setText(Module1::ReadSetting(QString::fromLatin1(Setting::picture)));
        if (text69_->text() == QLatin1String("False"))
            text69_->setText(platform::App::Path() + QStringLiteral("/serialcable.bmp"));

        image1_->setPicture(platform::LoadPicture(text69_->text()));
        // The picture area is fixed here only; a picture set later shows at its own size.
        image1_->resize(image1_->width(), platform::px(4500));
        image1_->resize(platform::px(4500), image1_->height());

        QString title = Module1::ReadSetting(QString::fromLatin1(Setting::caption));
        if (title == QLatin1String("False"))
            title = QStringLiteral("Domivox");
        setCaption(title);

        link_->open();
        timer19_->setEnabled(true);
    } catch (const platform::RuntimeError&) {
        platform::MsgBox(QString::fromLatin1(kStartupFailure), platform::vbInformation,
                         QStringLiteral("SETTINGS"));
        timer19_->setEnabled(true);
    }
    // The broker connection outlives this window: a second load finds it running.
    mqtt::MqttBridge::startIfWanted();
}

void Form1::releaseResources() {
    link_->close();
}

const platform::SerialControl& Form1::MSComm1() const {
    return link_->port();
}

void Form1::showStatus(int device, const QString& caption, bool on) {
    QLabel* l = Label(device);
    l->setText(caption + QStringLiteral(" ") +
               (on ? QStringLiteral("IS CURRENTLY ON") : QStringLiteral("IS CURRENTLY OFF")));
    platform::setBackColor(l, on ? platform::kColorGreen : platform::kColorRed);
    Q_EMIT statusShown(device, on);
}

QString Form1::buttonCaption(int n) const {
    return Command(n)->text();
}

void Form1::setButtonCaption(int n, const QString& caption) {
    if (Command(n)->text() == caption)
        return;
    Command(n)->setText(caption);
    device::DeviceAccount::instance().noteCaptionsChanged();
}

void Form1::sendFromButton(int button) {
    // The account keeps the status line on the last command that really went out, and tells a
    // run of failures once, so clicking on while the board is unplugged buries nobody in boxes.
    const DeviceCommand command = DeviceCommand::forButton(button);
    device::DeviceAccount::instance().switchDevice(command.device, command.on,
                                                   device::Sender::Button);
}

void Form1::Command1_Click() {
    sendFromButton(1);
}
void Form1::Command2_Click() {
    sendFromButton(2);
}
void Form1::Command3_Click() {
    sendFromButton(3);
}
void Form1::Command4_Click() {
    sendFromButton(4);
}
void Form1::Command5_Click() {
    sendFromButton(5);
}
void Form1::Command6_Click() {
    sendFromButton(6);
}
void Form1::Command7_Click() {
    sendFromButton(7);
}
void Form1::Command8_Click() {
    sendFromButton(8);
}
void Form1::Command9_Click() {
    sendFromButton(9);
}
void Form1::Command10_Click() {
    sendFromButton(10);
}

void Form1::MSComm1_OnComm() {
    // Whatever the line reports, the board is told to stop talking; nothing is read.
    link_->dropDtr();
}

void Form1::Timer19_Timer() {
    Label(6)->hide();
    timer19_->setEnabled(false);
}

void Form1::controlname_Click() {
    platform::WindowRegistry::show<settings>();
}
void Form1::cap_Click() {
    platform::WindowRegistry::show<caption1>();
}
void Form1::tmfunction_Click() {
    platform::WindowRegistry::show<frmTimer>();
}
void Form1::lock_Click() {
    platform::WindowRegistry::show<password>();
}
void Form1::internet_Click() {
    platform::WindowRegistry::show<internetsettings>();
}
void Form1::mqtt_Click() {
    platform::WindowRegistry::show<mqtt::mqttsettings>();
}
void Form1::oncon_Click() {
    remote::InternetSwitch::TurnOn(*text20_);
}
void Form1::off_Click() {
    remote::InternetSwitch::TurnOff();
}
void Form1::helpit_Click() {
    platform::WindowRegistry::show<Helpme>();
}

void Form1::dis_Click() {
    platform::MsgBox(QString::fromLatin1(kDisclaimer), platform::vbExclamation,
                     QStringLiteral("Disclaimer"));
}

void Form1::exit_Click() {
    platform::App::End();
}

void Form1::about_Click() {
    platform::MsgBox(QString::fromLatin1(kAbout), platform::vbExclamation,
                     QStringLiteral("Thank you"));
}

}  // namespace mainwindow
