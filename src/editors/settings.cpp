#include "editors/settings.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>

#include "device/MainPanel.h"
#include "platform/ui/Controls.h"
#include "platform/ui/Twips.h"
#include "store/Module1.h"

using platform::placeTwips;

namespace editors {

settings::settings() {
    setObjectName(QStringLiteral("settings"));
    setCaption(QStringLiteral("Settings"));
    setClientSizeTwips(5400, 4425);
    QWidget* c = client();

    frame1_ = platform::addFrame(c, "Frame1", "ON CONTROL NAMES", 240, 240, 2295, 3975);
    frame2_ = platform::addFrame(c, "Frame2", "OFF CONTROL NAMES", 2760, 240, 2415, 3975);

    for (int n = 1; n <= 10; ++n) {
        const QString name = QStringLiteral("Text%1").arg(n);
        // The ON boxes stand on the window in front of their frame; the OFF boxes are inside
        // theirs.
        QLineEdit* t =
            n <= 5 ? platform::addTextBox(c, name, QString(), 360, 600 + 600 * (n - 1), 1815, 375)
                   : platform::addTextBox(frame2_, name, QString(), 120, 360 + 600 * (n - 6), 2055,
                                          375);
        t->raise();
        texts_[n - 1] = t;
    }

    command1_ = platform::addButton(c, "Command1", "UPDATE ON BUTTONS", 360, 3720, 1935, 375);
    command1_->raise();
    command2_ =
        platform::addButton(frame2_, "Command2", "UPDATE OFF BUTTONS", 120, 3480, 2055, 375);

    QMenu* file = addMenu("file", "File");
    addMenuItem(file, "close", "Close", [this] { close_Click(); });

    connect(command1_, &QPushButton::clicked, this, &settings::Command1_Click);
    connect(command2_, &QPushButton::clicked, this, &settings::Command2_Click);
}

void settings::Form_Load() {
    if (device::MainPanel* main = device::findMainPanel()) {
        for (int n = 1; n <= 10; ++n)
            Text(n)->setText(main->buttonCaption(n));
        return;
    }
    // Without a main window the boxes start from the names the next one will show, so that
    // closing the editor cannot blank the buttons of a main window loaded meanwhile.
    for (int n = 1; n <= 5; ++n) {
        Text(n)->setText(Module1::ReadSetting(Setting::ONBUTTON(n)));
        Text(n + 5)->setText(Module1::ReadSetting(Setting::OFFBUTTON(n)));
    }
}

void settings::Command1_Click() {
    for (int n = 1; n <= 5; ++n)
        Module1::WriteSetting(Setting::ONBUTTON(n), Text(n)->text());
}

void settings::Command2_Click() {
    for (int n = 1; n <= 5; ++n)
        Module1::WriteSetting(Setting::OFFBUTTON(n), Text(n + 5)->text());
}

void settings::close_Click() {
    Unload();
}

void settings::Form_Unload() {
    // The names go onto the buttons of the main window that exists now. One the user closed is
    // not brought back just for them: a new main window starts from the stored names anyway.
    device::MainPanel* main = device::findMainPanel();
    if (!main)
        return;
    for (int n = 1; n <= 10; ++n)
        main->setButtonCaption(n, Text(n)->text());
}

}  // namespace editors
