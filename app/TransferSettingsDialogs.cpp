#include "TransferSettingsDialogs.h"

#include "CodePage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>

namespace {
constexpr int kLongestAnswerTimeout = 24 * 3600;
constexpr int kMostRetries = 1000000;

QDialogButtonBox* Buttons(QDialog* dialog, QDialogButtonBox::StandardButtons which) {
  auto* buttons = new QDialogButtonBox(which, dialog);
  QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  return buttons;
}

// A count where 0 reads "no limit".
QSpinBox* CountBox(int maximum, const QString& suffix, int value, QWidget* parent) {
  auto* box = new QSpinBox(parent);
  box->setRange(0, maximum);
  box->setSpecialValueText(QStringLiteral("no limit"));
  box->setSuffix(suffix);
  box->setValue(std::clamp(value, 0, maximum));
  return box;
}
}  // namespace

TFileCheckDialog::TFileCheckDialog(const QString& summary, const QString& report, QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("FileCheck"));
  setWindowTitle(QStringLiteral("Check file"));
  resize(640, 320);
  auto* layout = new QVBoxLayout(this);
  auto* heading = new QLabel(summary, this);
  heading->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(heading);
  Report = new QPlainTextEdit(report, this);
  Report->setReadOnly(true);
  Report->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  layout->addWidget(Report, 1);
  layout->addWidget(Buttons(this, QDialogButtonBox::Close));
}

TTransferSettingsDialog::TTransferSettingsDialog(const TTransferSettings& settings, QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("TransferSettings"));
  setWindowTitle(QStringLiteral("Transfer settings"));
  auto* form = new QFormLayout;

  CodePage = new QComboBox(this);
  CodePage->addItem(QStringLiteral("none: the file's bytes as they are"), QString());
  for (const std::string& name : KnownCodePages()) CodePage->addItem(QString::fromStdString(name), QString::fromStdString(name));
  const QString current = QString::fromStdString(settings.ScaleCodePage);
  // A name set by hand in config.xml stays choosable.
  if (CodePage->findData(current) < 0) CodePage->addItem(current, current);
  CodePage->setCurrentIndex(CodePage->findData(current));
  form->addRow(QStringLiteral("Scale code page:"), CodePage);

  Transliterate = new QCheckBox(QStringLiteral("Send a character the code page lacks as its closest letter"), this);
  Transliterate->setChecked(settings.Transliterate);
  form->addRow(QString(), Transliterate);

  AnswerTimeout = CountBox(kLongestAnswerTimeout, QStringLiteral(" s"), settings.AnswerTimeout, this);
  form->addRow(QStringLiteral("Wait for an answer:"), AnswerTimeout);
  RecordRetries = CountBox(kMostRetries, QStringLiteral(" times"), settings.RecordRetries, this);
  form->addRow(QStringLiteral("Send a refused record again:"), RecordRetries);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(Buttons(this, QDialogButtonBox::Ok | QDialogButtonBox::Cancel));
}

TTransferSettings TTransferSettingsDialog::Settings() const {
  TTransferSettings settings;
  settings.ScaleCodePage = CodePage->currentData().toString().toStdString();
  settings.Transliterate = Transliterate->isChecked();
  settings.AnswerTimeout = AnswerTimeout->value();
  settings.RecordRetries = RecordRetries->value();
  return settings;
}
