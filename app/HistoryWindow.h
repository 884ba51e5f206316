#pragma once
// "File → Transfer history": the last transfers and the attempts that failed before theirs
// started, newest first, read-only.

#include "ReadOnlyTable.h"
#include "TransferRecord.h"

#include <functional>
#include <vector>

class QUrl;

class TTransferHistoryWindow : public TReadOnlyTable {
 public:
  static constexpr size_t kShownTransfers = 200;

  using TSource = std::function<std::vector<TTransferRecord>(size_t count)>;
  // `source` gives the last transfers (and failed attempts), newest first.
  explicit TTransferHistoryWindow(TSource source, QWidget* parent = nullptr);

  // Reads the transfers again.
  void Reload();

  QPushButton* OpenFolderButton;
  // Shows a folder in the desktop's file manager; tests replace it.
  std::function<bool(const QUrl&)> OpenUrl;

 private:
  void OpenFolder();

  TSource source_;
};
