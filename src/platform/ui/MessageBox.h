#pragma once

#include <QString>

namespace platform {

// Icon styles of a message box; the box always has a single OK button.
enum MsgBoxStyle : int {
    vbOKOnly = 0,
    vbCritical = 16,
    vbQuestion = 32,
    vbExclamation = 48,
    vbInformation = 64,
};

// Shows a modal message box and returns when the user has dismissed it. An empty title shows
// the application title.
void MsgBox(const QString& text, int style = vbOKOnly, const QString& title = QString());

// What actually shows the box. The real one is a QMessageBox; tests install a double that
// records the box and returns at once.
class MessageBoxPresenter {
public:
    virtual ~MessageBoxPresenter() = default;
    virtual void present(const QString& text, int style, const QString& title) = 0;
};

// nullptr restores the real presenter. The presenter is not owned.
void setMessageBoxPresenter(MessageBoxPresenter* presenter);

}  // namespace platform
