#pragma once
// "File → Check file": the file check's report, read-only. "File → Transfer settings": the
// scale's code page, transliteration and the transfer's patience.

#include "Global.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QPlainTextEdit;
class QSpinBox;

class TFileCheckDialog : public QDialog {
 public:
  TFileCheckDialog(const QString& summary, const QString& report, QWidget* parent = nullptr);

  QPlainTextEdit* Report;
};

class TTransferSettingsDialog : public QDialog {
 public:
  explicit TTransferSettingsDialog(const TTransferSettings& settings, QWidget* parent = nullptr);

  // What the controls hold now.
  TTransferSettings Settings() const;

  QComboBox* CodePage;
  QCheckBox* Transliterate;
  QSpinBox* AnswerTimeout;
  QSpinBox* RecordRetries;
};
