#include "BuiltInTexts.h"
#include "CatalogueFixture.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QPushButton>

namespace {
class i18n_BuiltInTexts : public TCatalogueTest {
 protected:
  void Install(const std::string& language) {
    Instance(language);
    hook = std::make_unique<THook>(*instance, nullptr);
    QCoreApplication::installTranslator(hook.get());
  }
  void TearDown() override { hook.reset(); }
  std::unique_ptr<THook> hook;
};

TEST_F(i18n_BuiltInTexts, MessageBoxButtonsComeFromTheCatalogues) {
  AddResourceStringDomain("cport");
  WriteCatalogue("pl", "default", {{"OK", "Dobrze"}});
  WriteCatalogue("pl", "cport", {{"Cancel", "Anuluj"}});
  Install("pl_PL");
  QMessageBox box;
  box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
  EXPECT_EQ(box.button(QMessageBox::Ok)->text(), "Dobrze");
  EXPECT_EQ(box.button(QMessageBox::Cancel)->text(), "Anuluj");
}

TEST_F(i18n_BuiltInTexts, UntranslatedAndFailingTextsKeepQtsWording) {
  std::string broken = TMoBuilder::Build({{"Close", "Zamknij"}});
  TMoBuilder::Patch(broken, 0, 3);
  WriteCatalogue("pl", "default", broken);
  Install("pl_PL");
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Close"), "Close");
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Line\nbreak"), "Line\nbreak");
  EXPECT_TRUE(hook->translate("QPlatformTheme", "Close", nullptr, -1).isNull());
}
}  // namespace
