#pragma once

#include <functional>
#include <optional>

#include <QList>
#include <QString>

#include "platform/ui/FileDialog.h"

// Stands in for the open-file dialog: answers each showing with the next scripted answer
// (nothing = the user cancels) and records what the dialog was asked to show.
class ScriptedFileDialog : public platform::FileDialogPresenter {
public:
    ScriptedFileDialog() { platform::setFileDialogPresenter(this); }
    ~ScriptedFileDialog() override { platform::setFileDialogPresenter(nullptr); }

    void choose(const QString& path) { answers.append(path); }
    void cancel() { answers.append(std::nullopt); }

    std::optional<QString> chooseFileToOpen(QWidget* parent,
                                            const platform::FileOpenRequest& request) override {
        requests.append(request);
        parents.append(parent);
        if (onShow)
            onShow();
        if (answers.isEmpty()) {
            unscripted = true;
            return std::nullopt;
        }
        return answers.takeFirst();
    }

    QList<std::optional<QString>> answers;
    QList<platform::FileOpenRequest> requests;
    QList<QWidget*> parents;
    bool unscripted = false;       // shown more often than the test meant
    std::function<void()> onShow;  // runs "while the dialog is open"
};
