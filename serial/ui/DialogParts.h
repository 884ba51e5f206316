#pragma once
// The look and the labels both settings dialogs share.

#include <QString>

class QDialog;
class QLabel;
class QWidget;

// White background and the dialogs' font.
void UseDialogLook(QDialog& dialog);
// A label at (left, top) sized to its caption.
QLabel* NewLabel(QWidget* parent, const char* name, const QString& caption, int left, int top);
