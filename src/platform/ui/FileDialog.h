#pragma once

#include <optional>

#include <QObject>
#include <QString>
#include <QStringList>

class QWidget;

namespace platform {

// One entry of a filter list: the text the user sees and the name patterns it lets through.
struct FileFilter {
    QString description;
    QStringList patterns;
};

// Splits a filter list written as "description|pattern|description|pattern...", where a pattern
// may list several names separated by ';' ("*.jpg;*.jpeg"). An empty list has no entries.
// Throws RuntimeError when a description has no pattern after it.
QList<FileFilter> parseFilterList(const QString& filterList);

// The same entries as the dialog's own name filters, "JPG Files (*.jpg)": the description as it
// stands when it already ends with its patterns in brackets, else followed by them.
QStringList nameFilters(const QList<FileFilter>& filters);

// What the windows ask of an open-file dialog.
struct FileOpenRequest {
    QString title;
    QStringList nameFilters;  // in the dialog's own form; empty shows every file
    int selectedFilter = 0;   // index into nameFilters
    QString directory;        // where the dialog starts
};

// What actually shows the dialog. The real one is a QFileDialog; tests install a double that
// answers at once.
class FileDialogPresenter {
public:
    virtual ~FileDialogPresenter() = default;
    // Blocks until the user closes the dialog. The full path of the chosen file, or nothing
    // when the user cancelled.
    virtual std::optional<QString> chooseFileToOpen(QWidget* parent,
                                                    const FileOpenRequest& request) = 0;
};

// nullptr restores the real presenter. The presenter is not owned.
void setFileDialogPresenter(FileDialogPresenter* presenter);

// The open-file dialog as a window holds it: an invisible control with a filter list and the
// name of the file last chosen. The dialog is modal to the window that owns the control.
class FileDialog : public QObject {
    Q_OBJECT
public:
    explicit FileDialog(QWidget* owner);

    QString Filter() const { return filter_; }
    // Throws RuntimeError for a malformed list; the old list is then kept.
    void setFilter(const QString& filterList);
    // 1-based entry of the filter list preselected when the dialog opens.
    int FilterIndex() const { return filterIndex_; }
    void setFilterIndex(int index) { filterIndex_ = index; }
    QString DialogTitle() const { return title_; }
    void setDialogTitle(const QString& title) { title_ = title; }
    // Full path of the file chosen last; empty until a file was chosen.
    QString FileName() const { return fileName_; }

    // Shows the dialog and waits until it is closed. True when a file was chosen (FileName is
    // then its full path); false when the user cancelled, and FileName stays as it was.
    bool ShowOpen();

private:
    QWidget* owner_;
    QString filter_;
    QList<FileFilter> parsed_;
    int filterIndex_ = 1;
    QString title_;
    QString fileName_;
};

}  // namespace platform
