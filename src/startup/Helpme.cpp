#include "startup/Helpme.h"

#include <algorithm>

#include <QEvent>
#include <QGroupBox>
#include <QMenu>
#include <QMenuBar>

#include "platform/Errors.h"
#include "platform/app/AppInfo.h"
#include "platform/richtext/RichTextBox.h"
#include "platform/ui/MessageBox.h"
#include "platform/ui/Twips.h"

using platform::placeTwips;
using platform::px;

namespace {

// The client area as designed; the frame and the view keep their distance to its right and
// bottom edges when the user resizes the window.
constexpr int kClientWidth = 10305;
constexpr int kClientHeight = 7440;
constexpr int kFrameLeft = 120, kFrameTop = 360, kFrameWidth = 9735, kFrameHeight = 6855;
constexpr int kViewLeft = 240, kViewTop = 600, kViewWidth = 9015, kViewHeight = 5175;

}  // namespace

namespace startup {

Helpme::Helpme() {
    setObjectName(QStringLiteral("Helpme"));
    setCaption(QStringLiteral("HELP IS HERE!"));

    frame1_ = new QGroupBox(QStringLiteral("When you need help!"), client());
    frame1_->setObjectName(QStringLiteral("Frame1"));
    placeTwips(frame1_, kFrameLeft, kFrameTop, kFrameWidth, kFrameHeight);

    richTextBox1_ = new platform::RichTextBox(frame1_);
    richTextBox1_->setObjectName(QStringLiteral("RichTextBox1"));
    richTextBox1_->setPlainText(QStringLiteral("RichTextBox1"));
    placeTwips(richTextBox1_, kViewLeft, kViewTop, kViewWidth, kViewHeight);

    QMenu* file = menuBar()->addMenu(QStringLiteral("File"));
    file->setObjectName(QStringLiteral("file"));
    file->menuAction()->setObjectName(QStringLiteral("file"));
    QAction* close = file->addAction(QStringLiteral("Close"));
    close->setObjectName(QStringLiteral("close"));
    connect(close, &QAction::triggered, this, &Helpme::close_Click);

    // The window opens at its designed size but, unlike most windows here, may be resized.
    setClientSizeTwips(kClientWidth, kClientHeight);
    adjustSize();
    client()->setMinimumSize(0, 0);
    client()->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    client()->installEventFilter(this);
}

void Helpme::Form_Load() {
    // The directory is taken as the platform reports it and the name appended as it stands.
    const QString path = platform::App::Path() + QStringLiteral("/README.RTF");
    try {
        richTextBox1_->LoadFile(path);
    } catch (const platform::RuntimeError&) {
        platform::MsgBox(QStringLiteral("Please send readme.doc for more information"),
                         platform::vbInformation, QStringLiteral("Error"));
        Unload();
    }
}

void Helpme::close_Click() {
    Unload();
}

bool Helpme::eventFilter(QObject* watched, QEvent* event) {
    if (watched == client() && event->type() == QEvent::Resize)
        followClientSize();
    return platform::Window::eventFilter(watched, event);
}

void Helpme::followClientSize() {
    const int w = client()->width();
    const int h = client()->height();
    frame1_->resize(std::max(0, w - px(kClientWidth - kFrameWidth - kFrameLeft) - frame1_->x()),
                    std::max(0, h - px(kClientHeight - kFrameHeight - kFrameTop) - frame1_->y()));
    richTextBox1_->resize(
        std::max(0,
                 frame1_->width() - px(kFrameWidth - kViewWidth - kViewLeft) - richTextBox1_->x()),
        std::max(
            0, frame1_->height() - px(kFrameHeight - kViewHeight - kViewTop) - richTextBox1_->y()));
}

}  // namespace startup
