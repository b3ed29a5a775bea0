#include "platform/ui/FileDialog.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QStandardPaths>
#include <QWidget>

#include "platform/Errors.h"

namespace platform {
namespace {

class QtFileDialogPresenter : public FileDialogPresenter {
public:
    std::optional<QString> chooseFileToOpen(QWidget* parent,
                                            const FileOpenRequest& request) override {
        QFileDialog dialog(parent, request.title, request.directory);
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
        if (!request.nameFilters.isEmpty()) {
            dialog.setNameFilters(request.nameFilters);
            const int index =
                request.selectedFilter >= 0 && request.selectedFilter < request.nameFilters.size()
                    ? request.selectedFilter
                    : 0;
            dialog.selectNameFilter(request.nameFilters.at(index));
        }
        if (dialog.exec() != QDialog::Accepted)
            return std::nullopt;
        const QStringList chosen = dialog.selectedFiles();
        if (chosen.isEmpty() || chosen.first().isEmpty())
            return std::nullopt;
        return QFileInfo(chosen.first()).absoluteFilePath();
    }
};

FileDialogPresenter* current = nullptr;

FileDialogPresenter& presenter() {
    static QtFileDialogPresenter real;
    return current ? *current : real;
}

QString startDirectory(const QString& lastChosen) {
    if (!lastChosen.isEmpty()) {
        const QString dir = QFileInfo(lastChosen).absolutePath();
        if (QFileInfo(dir).isDir())
            return dir;
    }
    const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (!pictures.isEmpty() && QFileInfo(pictures).isDir())
        return pictures;
    return QDir::homePath();
}

}  // namespace

QList<FileFilter> parseFilterList(const QString& filterList) {
    QList<FileFilter> out;
    if (filterList.isEmpty())
        return out;
    const QStringList parts = filterList.split(QLatin1Char('|'));
    if (parts.size() % 2 != 0)
        throw RuntimeError(QStringLiteral("Invalid property value: filter \"%1\"").arg(filterList));
    for (qsizetype i = 0; i < parts.size(); i += 2) {
        QStringList patterns;
        for (const QString& p : parts.at(i + 1).split(QLatin1Char(';'))) {
            const QString pattern = p.trimmed();
            if (!pattern.isEmpty())
                patterns << pattern;
        }
        if (patterns.isEmpty())
            throw RuntimeError(
                QStringLiteral("Invalid property value: filter \"%1\"").arg(filterList));
        out.append({parts.at(i), patterns});
    }
    return out;
}

QStringList nameFilters(const QList<FileFilter>& filters) {
    QStringList out;
    for (const FileFilter& f : filters) {
        const QString bracketed =
            QLatin1Char('(') + f.patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
        const QString description = f.description.trimmed();
        // The dialog takes its patterns from the last brackets of the text: a description that
        // already shows them ("JPG Files (*.jpg)") can stand alone.
        if (description.endsWith(bracketed))
            out << description;
        else if (description.isEmpty())
            out << bracketed;
        else
            out << description + QLatin1Char(' ') + bracketed;
    }
    return out;
}

void setFileDialogPresenter(FileDialogPresenter* presenter) {
    current = presenter;
}

FileDialog::FileDialog(QWidget* owner) : QObject(owner), owner_(owner) {}

void FileDialog::setFilter(const QString& filterList) {
    parsed_ = parseFilterList(filterList);
    filter_ = filterList;
}

bool FileDialog::ShowOpen() {
    FileOpenRequest request;
    request.title = title_.isEmpty() ? QStringLiteral("Open") : title_;
    request.nameFilters = nameFilters(parsed_);
    request.selectedFilter = filterIndex_ - 1;
    request.directory = startDirectory(fileName_);
    const std::optional<QString> chosen = presenter().chooseFileToOpen(owner_, request);
    if (!chosen || chosen->isEmpty())
        return false;
    fileName_ = *chosen;
    return true;
}

}  // namespace platform
