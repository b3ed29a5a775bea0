#include "platform/richtext/RichTextBox.h"

#include <QTextDocument>

#include "platform/richtext/RichText.h"

namespace platform {

RichTextBox::RichTextBox(QWidget* parent) : QTextEdit(parent) {
    setReadOnly(true);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setLineWrapMode(QTextEdit::WidgetWidth);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
}

void RichTextBox::LoadFile(const QString& path) {
    // Filled away from the view, so the view lays the document out once instead of after every
    // piece of text.
    auto* document = new QTextDocument(this);
    try {
        loadRtfFile(path, document);
    } catch (...) {
        delete document;
        throw;
    }
    document->setDefaultFont(font());
    // The view owns its documents (they are its children) and drops the previous one itself.
    setDocument(document);
    moveCursor(QTextCursor::Start);
}

}  // namespace platform
