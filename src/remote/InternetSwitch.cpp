#include "remote/InternetSwitch.h"

#include <QLineEdit>

#include "platform/ui/MessageBox.h"
#include "platform/ui/WindowRegistry.h"
#include "remote/internetsettings.h"
#include "store/Module1.h"

namespace remote::InternetSwitch {
namespace {

const char* const kConfigureFirst =
    " You must set the internet settings first for this feature to work";
const char* const kNowOn =
    " Remote control via the internet is now On, your devices will be controlled via your "
    "webpage! Please keep both screens open, (you may minimize them but do not close)";
const char* const kNowOff =
    " Remote control via the internet is now OFF, your devices will be controlled locally only";

}  // namespace

void TurnOn(QLineEdit& text20) {
    Module1::WriteSetting(QString::fromLatin1(Setting::internet), QStringLiteral("interneton"));
    text20.setText(Module1::ReadSetting(QString::fromLatin1(Setting::Address)));
    // Only an address that was saved counts; one typed but not saved does not.
    if (text20.text().isEmpty()) {
        platform::MsgBox(QString::fromLatin1(kConfigureFirst), platform::vbInformation,
                         QStringLiteral("Configure Settings"));
        return;
    }
    platform::MsgBox(QString::fromLatin1(kNowOn), platform::vbInformation,
                     QStringLiteral("Internet On"));
    platform::WindowRegistry::show<internetsettings>();
}

void TurnOff() {
    Module1::WriteSetting(QString::fromLatin1(Setting::internet), QStringLiteral("internetoff"));
    // The message promises local control only, so the poller stops before it is shown.
    if (internetsettings* w = platform::WindowRegistry::find<internetsettings>())
        w->Unload();
    platform::MsgBox(QString::fromLatin1(kNowOff), platform::vbInformation,
                     QStringLiteral("Internet OFF"));
}

}  // namespace remote::InternetSwitch
