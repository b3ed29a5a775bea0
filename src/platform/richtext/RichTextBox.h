#pragma once

#include <QTextEdit>

namespace platform {

// A read-only view of a rich-text document that fills itself from an RTF file. It scrolls
// vertically, and horizontally only for content wider than the view (lines wrap at its width);
// the text can be selected and copied.
class RichTextBox : public QTextEdit {
    Q_OBJECT
public:
    explicit RichTextBox(QWidget* parent = nullptr);

    // Shows the RTF file from its top. Throws RuntimeError when the file is missing, cannot be
    // read or is not RTF; what was shown before then stays.
    void LoadFile(const QString& path);

    QString Text() const { return toPlainText(); }
};

}  // namespace platform
