#include "platform/ui/MessageBox.h"

#include <QMessageBox>

#include "platform/app/AppInfo.h"

namespace platform {
namespace {

class QtMessageBoxPresenter : public MessageBoxPresenter {
public:
    void present(const QString& text, int style, const QString& title) override {
        QMessageBox box;
        box.setWindowTitle(title);
        box.setText(text);
        box.setTextFormat(Qt::PlainText);
        switch (style & 0x70) {
            case vbCritical:
                box.setIcon(QMessageBox::Critical);
                break;
            case vbQuestion:
                box.setIcon(QMessageBox::Question);
                break;
            case vbExclamation:
                box.setIcon(QMessageBox::Warning);
                break;
            case vbInformation:
                box.setIcon(QMessageBox::Information);
                break;
            default:
                box.setIcon(QMessageBox::NoIcon);
                break;
        }
        box.setStandardButtons(QMessageBox::Ok);
        box.exec();
    }
};

MessageBoxPresenter* current = nullptr;

}  // namespace

void MsgBox(const QString& text, int style, const QString& title) {
    static QtMessageBoxPresenter real;
    MessageBoxPresenter* p = current ? current : &real;
    p->present(text, style, title.isEmpty() ? App::Title() : title);
}

void setMessageBoxPresenter(MessageBoxPresenter* presenter) {
    current = presenter;
}

}  // namespace platform
