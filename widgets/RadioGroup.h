#pragma once
// A titled group of radio buttons chosen by position, laid out in columns.

#include <QButtonGroup>
#include <QGroupBox>
#include <QStringList>

#include <functional>

class TRadioGroup : public QGroupBox {
 public:
  explicit TRadioGroup(const QString& caption, QWidget* parent = nullptr, int columns = 1);

  void Clear();
  void Add(const QString& text);
  void SetItems(const QStringList& items);
  QStringList Items() const;
  int ItemIndex() const;
  // Selecting by code runs OnClick when the selection really changes.
  void SetItemIndex(int index);

  std::function<void()> OnClick;

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void LayOut();

  QButtonGroup buttons_;
  int columns_;
};
