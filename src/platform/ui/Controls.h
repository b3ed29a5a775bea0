#pragma once

#include <QString>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

// Controls as the windows are designed: a name that tests and code find them by, a caption, and
// a place in twips inside their container.
namespace platform {

QGroupBox* addFrame(QWidget* parent, const QString& name, const QString& caption, int left, int top,
                    int width, int height);
QPushButton* addButton(QWidget* parent, const QString& name, const QString& caption, int left,
                       int top, int width, int height);
// Plain text (never markup), wrapped at word boundaries, from the top-left corner.
QLabel* addLabel(QWidget* parent, const QString& name, const QString& caption, int left, int top,
                 int width, int height);
QLineEdit* addTextBox(QWidget* parent, const QString& name, const QString& text, int left, int top,
                      int width, int height);
QCheckBox* addCheckBox(QWidget* parent, const QString& name, const QString& caption, int left,
                       int top, int width, int height);

}  // namespace platform
