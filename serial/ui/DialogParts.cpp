#include "DialogParts.h"

#include <QDialog>
#include <QLabel>

void UseDialogLook(QDialog& dialog) {
  dialog.setFont(QFont(QStringLiteral("MS Sans Serif"), 8));
  QPalette white = dialog.palette();
  white.setColor(QPalette::Window, Qt::white);
  dialog.setPalette(white);
  dialog.setAutoFillBackground(true);
}

QLabel* NewLabel(QWidget* parent, const char* name, const QString& caption, int left, int top) {
  auto* label = new QLabel(caption, parent);
  label->setObjectName(QString::fromLatin1(name));
  label->move(left, top);
  label->adjustSize();
  return label;
}
