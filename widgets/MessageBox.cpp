#include "MessageBox.h"

#include <QApplication>
#include <QMessageBox>

std::function<void(const QString&, const QString&, TMessageIcon)> MessageBoxHook;

void ShowMessageBox(const QString& text, const QString& title, TMessageIcon icon) {
  if (MessageBoxHook) {
    MessageBoxHook(text, title, icon);
    return;
  }
  QMessageBox box(icon == TMessageIcon::Information ? QMessageBox::Information : QMessageBox::Warning, title,
                  text, QMessageBox::Ok, QApplication::activeWindow());
  box.exec();
}
