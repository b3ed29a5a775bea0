#include "editors/caption1.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>

#include "device/MainPanel.h"
#include "platform/Errors.h"
#include "platform/ui/Controls.h"
#include "platform/ui/FileDialog.h"
#include "platform/ui/MessageBox.h"
#include "platform/ui/Picture.h"
#include "platform/ui/PictureBox.h"
#include "platform/ui/Twips.h"
#include "store/Module1.h"

using platform::placeTwips;
using platform::px;

namespace {
const char* const kPictureFilter =
    "JPG Files (*.jpg)|*.jpg|GIF Files (*.gif)|*.gif|BMP Files (*.bmp)|*.bmp";
}

namespace editors {

caption1::caption1() {
    setObjectName(QStringLiteral("caption1"));
    setCaption(QStringLiteral("Edit Details"));
    QWidget* c = client();

    frame1_ = platform::addFrame(c, "Frame1", "Please Select Picture File", 120, 360, 2895, 1335);
    command1_ = platform::addButton(frame1_, "Command1", "Select Picture", 240, 360, 2295, 675);
    frame2_ = platform::addFrame(c, "Frame2", "Select Program Caption", 3240, 360, 2895, 1335);
    text2_ =
        platform::addTextBox(frame2_, "Text2", "Example : Larry's Program", 360, 360, 2055, 285);
    command2_ = platform::addButton(frame2_, "Command2", "Save Caption", 480, 840, 1815, 375);

    // Below both frames, beyond the window's first height: the user enlarges the window to see
    // the preview, which shows at the picture's own size.
    image1_ = new platform::PictureBox(c);
    image1_->setObjectName(QStringLiteral("Image1"));
    image1_->move(px(1440), px(2280));
    image1_->resize(0, 0);

    commonDialog1_ = new platform::FileDialog(this);
    commonDialog1_->setObjectName(QStringLiteral("CommonDialog1"));

    QMenu* file = addMenu("file", "File");
    addMenuItem(file, "close", "Close", [this] { close_Click(); });

    // Resizable: the client area starts at its design size but is not held there.
    resize(px(6525), px(1845) + menuBar()->sizeHint().height());

    connect(command1_, &QPushButton::clicked, this, &caption1::Command1_Click);
    connect(command2_, &QPushButton::clicked, this, &caption1::Command2_Click);
}

void caption1::Command1_Click() {
    try {
        commonDialog1_->setFilter(QString::fromLatin1(kPictureFilter));
        commonDialog1_->setFilterIndex(1);
        // A cancelled dialog is no choice at all: nothing below may run on a name the user
        // did not pick.
        if (!commonDialog1_->ShowOpen())
            return;
        const QString chosen = commonDialog1_->FileName();
        image1_->setPicture(platform::LoadPicture(chosen));
        Module1::WriteSetting(QString::fromLatin1(Setting::picture), chosen);
        // Only a main window that exists shows it now; a closed one is not brought back for
        // it, the next one reads the stored path.
        if (device::MainPanel* main = device::findMainPanel())
            main->Image1()->setPicture(platform::LoadPicture(chosen));
    } catch (const platform::RuntimeError&) {
        platform::MsgBox(QStringLiteral("error"), platform::vbOKOnly);
    }
}

void caption1::Command2_Click() {
    Module1::WriteSetting(QString::fromLatin1(Setting::caption), text2_->text());
    if (device::MainPanel* main = device::findMainPanel())
        main->window().setCaption(text2_->text());
}

void caption1::close_Click() {
    Unload();
}

}  // namespace editors
