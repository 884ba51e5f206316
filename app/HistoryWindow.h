#pragma once
// "File → Transfer history": the last transfers of the history file, newest first, read-only.

#include <QDialog>

#include <functional>

class QPushButton;
class QTableWidget;
class QUrl;

class TTransferHistoryWindow : public QDialog {
 public:
  static constexpr size_t kShownTransfers = 200;

  explicit TTransferHistoryWindow(QWidget* parent = nullptr);

  // Reads the history file again.
  void Reload();

  QTableWidget* Table;
  QPushButton* OpenFolderButton;
  // Shows a folder in the desktop's file manager; tests replace it.
  std::function<bool(const QUrl&)> OpenUrl;

 private:
  void OpenFolder();
};
