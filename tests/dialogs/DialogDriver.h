#pragma once
// Drives modal dialogs from a test: the action runs once the next modal run has started.

#include "SerialPortCtl.h"

#include <QApplication>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

// Runs `action` on the modal dialog of type T that opens next; a dialog the action leaves open
// fails the test and is closed, so no test waits forever.
template <typename T>
void WhenShown(std::function<void(T&)> action) {
  QTimer::singleShot(0, [action] {
    QWidget* modal = QApplication::activeModalWidget();
    auto* dialog = dynamic_cast<T*>(modal);
    if (!dialog) {
      ADD_FAILURE() << "the expected dialog is not shown";
      if (modal) modal->close();
      return;
    }
    action(*dialog);
    if (dialog->isVisible()) {
      ADD_FAILURE() << "the dialog is still open";
      dialog->close();
    }
  });
}

// The operator picks the item `text` of a list.
inline void Choose(QComboBox& combo, const QString& text) {
  const int index = combo.findText(text);
  ASSERT_GE(index, 0) << text.toStdString();
  combo.setCurrentIndex(index);
  emit combo.activated(index);
}
