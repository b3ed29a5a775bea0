#include "platform/ui/Controls.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "platform/ui/Twips.h"

namespace platform {
namespace {

template <class W>
W* place(W* w, const QString& name, int left, int top, int width, int height) {
    w->setObjectName(name);
    placeTwips(w, left, top, width, height);
    return w;
}

}  // namespace

QGroupBox* addFrame(QWidget* parent, const QString& name, const QString& caption, int left, int top,
                    int width, int height) {
    return place(new QGroupBox(caption, parent), name, left, top, width, height);
}

QPushButton* addButton(QWidget* parent, const QString& name, const QString& caption, int left,
                       int top, int width, int height) {
    return place(new QPushButton(caption, parent), name, left, top, width, height);
}

QLabel* addLabel(QWidget* parent, const QString& name, const QString& caption, int left, int top,
                 int width, int height) {
    auto* l = new QLabel(caption, parent);
    l->setTextFormat(Qt::PlainText);
    l->setWordWrap(true);
    l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return place(l, name, left, top, width, height);
}

QLineEdit* addTextBox(QWidget* parent, const QString& name, const QString& text, int left, int top,
                      int width, int height) {
    return place(new QLineEdit(text, parent), name, left, top, width, height);
}

QCheckBox* addCheckBox(QWidget* parent, const QString& name, const QString& caption, int left,
                       int top, int width, int height) {
    return place(new QCheckBox(caption, parent), name, left, top, width, height);
}

}  // namespace platform
