#include "CatalogueFixture.h"
#include "ObjectTree.h"

#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

namespace {
// An object with a string list and a reference to another object, as forms of other kinds have.
class TLinkedThing : public QObject {
  Q_OBJECT
  Q_PROPERTY(QStringList lines READ lines WRITE setLines)
  Q_PROPERTY(QObject* partner READ partner WRITE setPartner)
  Q_PROPERTY(QString caption READ caption)

 public:
  QStringList lines() const { return lines_; }
  void setLines(const QStringList& lines) { lines_ = lines; }
  QObject* partner() const { return partner_; }
  void setPartner(QObject* partner) { partner_ = partner; }
  QString caption() const { return QStringLiteral("Apply"); }

 private:
  QStringList lines_;
  QObject* partner_ = nullptr;
};

// A small setup dialog: the same shape as the serial one, with object names that are also catalogue keys.
struct TSetupDialog {
  TSetupDialog() {
    dialog.setObjectName("PortSetupFrm");
    dialog.setWindowTitle("RS-232 settings");
    group->setObjectName("GroupBox1");
    group->setTitle(" Settings: ");
    label->setObjectName("Label1");
    label->setText("Port:");
    combo1->setObjectName("Combo1");
    combo1->addItems({"Apply", "None"});
    combo1->setToolTip("Apply");
    combo7->setObjectName("Combo7");
    combo7->addItems({"Apply", "None"});
    apply->setObjectName("Apply");
    apply->setText("Zastosuj");
    apply->setToolTip("Apply settings");
    multiLine->setObjectName("MultiLine");
    multiLine->setText("Port:\nnone");
  }
  QDialog dialog;
  QGroupBox* group = new QGroupBox(&dialog);
  QLabel* label = new QLabel(group);
  QComboBox* combo1 = new QComboBox(group);
  QComboBox* combo7 = new QComboBox(group);
  QPushButton* apply = new QPushButton(&dialog);
  QLabel* multiLine = new QLabel(&dialog);
};

class i18n_ObjectTree : public TCatalogueTest {
 protected:
  void SetUp() override {
    WriteCatalogue("pl", "cport",
                   {{"RS-232 settings", "Ustawienia RS-232"},
                    {" Settings: ", " Ustawienia: "},
                    {"Port:", "Port szeregowy:"},
                    {"Zastosuj", "Zastosuj teraz"},
                    {"Apply settings", "Zastosuj ustawienia"},
                    {"Apply", "Zastosuj"},
                    {"Label1", "Etykieta"}});
    Instance("pl_PL");
  }
  TSetupDialog form;
};

TEST_F(i18n_ObjectTree, TranslatesEverythingButTheIgnoredListAndTheNames) {
  instance->TranslateIgnore(&form.dialog, "combo1");
  TranslateObjectTree(*instance, &form.dialog, "cport");
  EXPECT_EQ(form.dialog.windowTitle(), "Ustawienia RS-232");
  EXPECT_EQ(form.group->title(), " Ustawienia: ");
  EXPECT_EQ(form.label->text(), "Port szeregowy:");
  EXPECT_EQ(form.apply->text(), "Zastosuj teraz");
  EXPECT_EQ(form.apply->toolTip(), "Zastosuj ustawienia");
  EXPECT_EQ(form.combo1->itemText(0), "Apply");
  EXPECT_EQ(form.combo1->toolTip(), "Apply");
  EXPECT_EQ(form.combo7->itemText(0), "Zastosuj") << "lists that are not ignored are translated";
  EXPECT_EQ(form.apply->objectName(), "Apply");
  EXPECT_EQ(form.label->objectName(), "Label1");
  EXPECT_EQ(form.multiLine->text(), "Port:\nnone") << "no stray CR in Qt texts";
}

TEST_F(i18n_ObjectTree, TheIgnoreListLastsForOneTranslation) {
  instance->TranslateIgnore(&form.dialog, "Combo1");
  TranslateObjectTree(*instance, &form.dialog, "cport");
  TranslateObjectTree(*instance, &form.dialog, "cport");
  EXPECT_EQ(form.combo1->itemText(0), "Zastosuj");
}

TEST_F(i18n_ObjectTree, DottedNamesSkipOneProperty) {
  instance->TranslateIgnore(&form.dialog, ".windowTitle");
  instance->TranslateIgnore(&form.dialog, "apply.TOOLTIP");
  TranslateObjectTree(*instance, &form.dialog, "cport");
  EXPECT_EQ(form.dialog.windowTitle(), "RS-232 settings");
  EXPECT_EQ(form.apply->toolTip(), "Apply settings");
  EXPECT_EQ(form.apply->text(), "Zastosuj teraz");
}

TEST_F(i18n_ObjectTree, ClassPropertyEntriesCoverDerivedClassesAndWholeObjects) {
  instance->TranslateIgnoreClassProperty(&QAbstractButton::staticMetaObject, "toolTip");
  instance->TranslateIgnoreClass(&QGroupBox::staticMetaObject);
  TranslateObjectTree(*instance, &form.dialog, "cport");
  EXPECT_EQ(form.apply->toolTip(), "Apply settings");
  EXPECT_EQ(form.apply->text(), "Zastosuj teraz");
  EXPECT_EQ(form.group->title(), " Settings: ");
  EXPECT_EQ(form.label->text(), "Port:") << "components owned by a skipped object are skipped too";
}

TEST_F(i18n_ObjectTree, DerivedClassEntriesStandBeforeTheirAncestors) {
  instance->TranslateIgnoreClassProperty(&QWidget::staticMetaObject, "toolTip");
  instance->TranslateIgnoreClassProperty(&QLabel::staticMetaObject, "text");
  instance->TranslateIgnoreClassProperty(&QPushButton::staticMetaObject, "text");
  instance->TranslateIgnoreClassProperty(&QLabel::staticMetaObject, "toolTip");
  const std::vector<TClassMode> modes = instance->ClassModes();
  ASSERT_EQ(modes.size(), 4u);
  EXPECT_EQ(modes[0].Class, &QLabel::staticMetaObject);
  EXPECT_EQ(modes[0].Properties, (std::vector<std::string>{"TEXT", "TOOLTIP"}));
  EXPECT_EQ(modes[1].Class, &QPushButton::staticMetaObject);
  EXPECT_EQ(modes[2].Class, &QWidget::staticMetaObject);
  EXPECT_EQ(modes[3].Class, &QObject::staticMetaObject);
  EXPECT_EQ(modes[3].Properties, (std::vector<std::string>{"OBJECTNAME"}));
}

TEST_F(i18n_ObjectTree, StringListsAndReferencedObjectsAreReached) {
  TLinkedThing thing;
  QLabel outside("Port:");
  thing.setLines({"Apply", "", "Other"});
  thing.setPartner(&outside);
  TranslateObjectTree(*instance, &thing, "cport");
  EXPECT_EQ(thing.lines(), (QStringList{"Zastosuj", "", "Other"}));
  EXPECT_EQ(outside.text(), "Port szeregowy:");
}

TEST_F(i18n_ObjectTree, EmptyDomainMeansTheCurrentOne) {
  WriteCatalogue("pl", "default", {{"Port:", "Złącze:"}});
  Instance("pl_PL");
  TranslateObjectTree(*instance, form.label, "");
  EXPECT_EQ(form.label->text(), "Złącze:");
}

TEST_F(i18n_ObjectTree, FailureNamesThePropertyAndStopsTheTranslation) {
  std::string bytes = TMoBuilder::Build({{"Port:", "x"}});
  TMoBuilder::Patch(bytes, 0, 7);
  const std::string path = WriteCatalogue("pl", "broken", bytes);
  instance->TranslateIgnore(&form.dialog, "Combo1");
  try {
    TranslateObjectTree(*instance, &form.dialog, "broken");
    ADD_FAILURE() << "no failure";
  } catch (const ETranslationError& error) {
    EXPECT_EQ(std::string(error.what()),
              "Property cannot be translated.\r\nUse TranslateIgnoreClassProperty(QDialog,windowTitle) or\r\n"
              "TranslateIgnore (self,'.windowTitle') to prevent this message.\r\nReason: This file is not a valid "
              "GNU gettext mo file: " +
                  path);
  }
  TranslateObjectTree(*instance, &form.dialog, "cport");
  EXPECT_EQ(form.combo1->itemText(0), "Zastosuj") << "a failed translation still empties the ignore list";
}
}  // namespace

#include "ObjectTreeTest.moc"
