#include "editors/settings.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>

#include "device/Form1.h"
#include "platform/Twips.h"
#include "platform/WindowRegistry.h"
#include "store/Module1.h"

using platform::placeTwips;

settings::settings() {
    setObjectName(QStringLiteral("settings"));
    setCaption(QStringLiteral("Settings"));
    setClientSizeTwips(5400, 4425);
    QWidget* c = client();

    frame1_ = new QGroupBox(QStringLiteral("ON CONTROL NAMES"), c);
    frame1_->setObjectName(QStringLiteral("Frame1"));
    placeTwips(frame1_, 240, 240, 2295, 3975);
    frame2_ = new QGroupBox(QStringLiteral("OFF CONTROL NAMES"), c);
    frame2_->setObjectName(QStringLiteral("Frame2"));
    placeTwips(frame2_, 2760, 240, 2415, 3975);

    for (int n = 1; n <= 10; ++n) {
        const bool on = n <= 5;
        // The ON boxes stand on the window in front of their frame; the OFF boxes are inside
        // theirs.
        auto* t = new QLineEdit(on ? c : frame2_);
        t->setObjectName(QStringLiteral("Text%1").arg(n));
        if (on)
            placeTwips(t, 360, 600 + 600 * (n - 1), 1815, 375);
        else
            placeTwips(t, 120, 360 + 600 * (n - 6), 2055, 375);
        t->raise();
        texts_[n - 1] = t;
    }

    command1_ = new QPushButton(QStringLiteral("UPDATE ON BUTTONS"), c);
    command1_->setObjectName(QStringLiteral("Command1"));
    placeTwips(command1_, 360, 3720, 1935, 375);
    command1_->raise();
    command2_ = new QPushButton(QStringLiteral("UPDATE OFF BUTTONS"), frame2_);
    command2_->setObjectName(QStringLiteral("Command2"));
    placeTwips(command2_, 120, 3480, 2055, 375);

    QMenu* file = menuBar()->addMenu(QStringLiteral("File"));
    file->setObjectName(QStringLiteral("file"));
    file->menuAction()->setObjectName(QStringLiteral("file"));
    QAction* close = file->addAction(QStringLiteral("Close"));
    close->setObjectName(QStringLiteral("close"));

    connect(command1_, &QPushButton::clicked, this, &settings::Command1_Click);
    connect(command2_, &QPushButton::clicked, this, &settings::Command2_Click);
    connect(close, &QAction::triggered, this, &settings::close_Click);
}

void settings::Form_Load() {
    if (Form1* main = platform::WindowRegistry::find<Form1>()) {
        for (int n = 1; n <= 10; ++n)
            Text(n)->setText(main->Command(n)->text());
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
    Form1* main = platform::WindowRegistry::find<Form1>();
    if (!main)
        return;
    for (int n = 1; n <= 10; ++n)
        main->Command(n)->setText(Text(n)->text());
}
