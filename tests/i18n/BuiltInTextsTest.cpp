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

TEST_F(i18n_BuiltInTexts, BrokenCatalogueTouchedByQtFirstStillFailsTheFirstOwnLookup) {
  AddResourceStringDomain("cport");
  std::string broken = TMoBuilder::Build({{"Apply", "Zastosuj"}});
  TMoBuilder::Patch(broken, 0, 0);
  const std::string path = WriteCatalogue("pl", "cport", broken);
  Install("pl_PL");
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Apply"), "Apply");
  try {
    instance->TranslateInDomain("cport", "Apply");
    ADD_FAILURE() << "the failure was lost to Qt's lookup";
  } catch (const ETranslationError& error) {
    EXPECT_EQ(std::string(error.what()), "This file is not a valid GNU gettext mo file: " + path);
  }
  EXPECT_EQ(instance->TranslateInDomain("cport", "Apply"), "Apply") << "reported once";
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Apply"), "Apply");
}
}  // namespace
