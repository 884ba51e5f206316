#include "ConnectionUnit.h"

TConnectionForm::TConnectionForm(TCustomComPort& comPort, std::function<void()> clickOpenPort, QWidget* parent)
    : QDialog(parent), comPort_(comPort), clickOpenPort_(std::move(clickOpenPort)) {
  setWindowTitle(QString::fromUtf8("Ustawienia połączenia"));
}
