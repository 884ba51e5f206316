#include "RadioGroup.h"

#include <QAbstractButton>
#include <QRadioButton>

TRadioGroup::TRadioGroup(const QString& caption, QWidget* parent, int columns)
    : QGroupBox(caption, parent), columns_(columns) {
  buttons_.setExclusive(true);
  connect(&buttons_, &QButtonGroup::idClicked, this, [this](int) {
    if (OnClick) OnClick();
  });
}

void TRadioGroup::Clear() {
  for (QAbstractButton* button : buttons_.buttons()) {
    buttons_.removeButton(button);
    delete button;
  }
}

void TRadioGroup::Add(const QString& text) {
  auto* button = new QRadioButton(text, this);
  buttons_.addButton(button, static_cast<int>(buttons_.buttons().size()));
  button->show();
  LayOut();
}

void TRadioGroup::SetItems(const QStringList& items) {
  Clear();
  for (const QString& item : items) Add(item);
}

QStringList TRadioGroup::Items() const {
  QStringList items;
  for (int id = 0; QAbstractButton* button = buttons_.button(id); ++id) items << button->text();
  return items;
}

int TRadioGroup::ItemIndex() const { return buttons_.checkedId(); }

void TRadioGroup::SetItemIndex(int index) {
  if (index == ItemIndex()) return;
  QAbstractButton* button = buttons_.button(index);
  if (button) {
    button->setChecked(true);
  } else if (QAbstractButton* checked = buttons_.checkedButton()) {
    buttons_.setExclusive(false);
    checked->setChecked(false);
    buttons_.setExclusive(true);
  }
  if (OnClick) OnClick();
}

void TRadioGroup::resizeEvent(QResizeEvent* event) {
  QGroupBox::resizeEvent(event);
  LayOut();
}

void TRadioGroup::LayOut() {
  const QList<QAbstractButton*> all = buttons_.buttons();
  if (all.isEmpty()) return;
  const int rows = static_cast<int>((all.size() + columns_ - 1) / columns_);
  const int top = 16, left = 8;
  const int cellWidth = (width() - 2 * left) / columns_;
  const int cellHeight = std::max(1, (height() - top - 4) / rows);
  for (int id = 0; QAbstractButton* button = buttons_.button(id); ++id) {
    const int column = id / rows, row = id % rows;
    button->setGeometry(left + column * cellWidth, top + row * cellHeight, cellWidth, std::min(cellHeight, 20));
  }
}
