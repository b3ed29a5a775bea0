#include "startup/frmSplash.h"

#include <qdrawutil.h>
#include <QCloseEvent>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QScreen>

#include "device/MainPanel.h"
#include "platform/app/AppInfo.h"
#include "platform/clock/IntervalTimer.h"
#include "platform/ui/Fonts.h"
#include "platform/ui/Twips.h"
#include "platform/ui/WindowRegistry.h"
#include "startup/disclaim.h"
#include "store/Module1.h"

using platform::placeTwips;

// The logo is compiled into the core library; a static library's resources need an explicit
// hook or the linker drops them.
static void initAssets() {
    Q_INIT_RESOURCE(assets);
}

namespace {

constexpr int kBorder = 2;  // the fixed dialog border, drawn by the window itself

// A label that sizes itself to its text. A right-aligned one keeps its right edge where it was
// designed and grows to the left, so a longer text stays inside the frame.
void autoSize(QLabel* label) {
    const int rightEdge = label->x() + label->width();
    label->adjustSize();
    if (label->alignment() & Qt::AlignRight)
        label->move(rightEdge - label->width(), label->y());
}

}  // namespace

namespace startup {

frmSplash::frmSplash() {
    initAssets();
    setObjectName(QStringLiteral("frmSplash"));
    // No title text, no control box, not in the task bar.
    setWindowFlags(Qt::SplashScreen | Qt::FramelessWindowHint);
    setCaption(QString());
    setContentsMargins(kBorder, kBorder, kBorder, kBorder);
    setClientSizeTwips(7380, 4245);

    frame1_ = new QGroupBox(client());
    frame1_->setObjectName(QStringLiteral("Frame1"));
    placeTwips(frame1_, 150, 60, 7080, 4050);

    imgLogo_ = new QLabel(frame1_);
    imgLogo_->setObjectName(QStringLiteral("imgLogo"));
    imgLogo_->setPixmap(QPixmap(QStringLiteral(":/domivox-logo.png")));
    imgLogo_->setScaledContents(true);
    placeTwips(imgLogo_, 360, 795, 1695, 1785);

    const auto left = Qt::AlignLeft | Qt::AlignVCenter;
    const auto right = Qt::AlignRight | Qt::AlignVCenter;
    autoSize(addLabel("lblCompanyProduct", "Control it, run it, use it, anywhere", 480, 360, 18,
                      true, left));
    lblProductName_ = addLabel("lblProductName", "Product", 2520, 960, 21.75, true, left);
    autoSize(lblProductName_);
    autoSize(addLabel("lblPlatform", "Platform", 5580, 2340, 15.75, true, right));
    lblVersion_ = addLabel("lblVersion", "Version", 5970, 2700, 12, true, right);
    autoSize(lblVersion_);
    QLabel* licence = addLabel("lblLicenseTo", "LicenseTo", 120, 120, 8.25, false, right);
    licence->resize(platform::px(6855), licence->sizeHint().height());
    QLabel* copyright = addLabel("lblCopyright", "Copyright", 4560, 3060, 8.25, false, left);
    copyright->resize(platform::px(2415), copyright->sizeHint().height());
    QLabel* company = addLabel("lblCompany", "Company", 4560, 3270, 8.25, false, left);
    company->resize(platform::px(2415), company->sizeHint().height());

    timer2_ = addTimer(QStringLiteral("Timer2"), 2500, false, [this] { Timer2_Timer(); });

    adjustSize();
    setFixedSize(size());
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

QLabel* frmSplash::addLabel(const char* name, const char* text, int left, int top, double points,
                            bool bold, Qt::Alignment alignment) {
    auto* label = new QLabel(QString::fromLatin1(text), frame1_);
    label->setObjectName(QString::fromLatin1(name));
    label->setTextFormat(Qt::PlainText);
    label->setFont(platform::designFont(QStringLiteral("Arial"), points, bold));
    label->setAlignment(alignment);
    label->move(platform::px(left), platform::px(top));
    label->resize(label->sizeHint());
    return label;
}

QString frmSplash::versionText(int major, int minor, int revision) {
    return QStringLiteral("Version %1.%2.%3").arg(major).arg(minor).arg(revision);
}

void frmSplash::Form_Load() {
    const QString accepted = Module1::ReadSetting(QString::fromLatin1(Setting::disclaimer));
    lblVersion_->setText(
        versionText(platform::App::Major(), platform::App::Minor(), platform::App::Revision()));
    autoSize(lblVersion_);
    lblProductName_->setText(platform::App::Title());
    autoSize(lblProductName_);

    // Accepted means exactly the one character "1": no trimming, nothing else counts.
    if (accepted == QLatin1String("1")) {
        timer2_->setEnabled(true);
        return;
    }
    // The disclaimer is up before the splash goes, so the program never runs out of windows.
    platform::WindowRegistry::show<disclaim>();
    Unload();
}

void frmSplash::Timer2_Timer() {
    device::showMainPanel();
    Unload();
}

void frmSplash::keyPressEvent(QKeyEvent* event) {
    event->accept();
}
void frmSplash::mousePressEvent(QMouseEvent* event) {
    event->accept();
}
void frmSplash::mouseDoubleClickEvent(QMouseEvent* event) {
    event->accept();
}
void frmSplash::closeEvent(QCloseEvent* event) {
    event->ignore();
}

void frmSplash::paintEvent(QPaintEvent* event) {
    platform::Window::paintEvent(event);
    QPainter painter(this);
    qDrawWinPanel(&painter, rect(), palette(), false);
}

}  // namespace startup
