#include "ObjectTree.h"

#include "TextForms.h"
#include "Translation.h"

#include <QComboBox>
#include <QMetaProperty>
#include <QObject>
#include <QStringList>

#include <optional>
#include <set>
#include <unordered_set>
#include <vector>

namespace {
// Combo box items are not a property in Qt; they are translated like a string-list property.
constexpr const char* kComboItems = "ITEMS";

struct TWorkItem {
  QObject* Object;
  std::string Name;
};

std::string PropertyFailure(const QObject* object, const std::string& property, const std::string& reason) {
  return std::string("Property cannot be translated.\r\nUse TranslateIgnoreClassProperty(") +
         object->metaObject()->className() + "," + property + ") or\r\nTranslateIgnore (self,'." + property +
         "') to prevent this message.\r\nReason: " + reason;
}

bool IsIgnored(const std::set<std::string>& ignoreList, const std::string& ownerName, const std::string& property) {
  return ignoreList.count(ownerName + "." + property) != 0;
}

// Empties the ignore list when the translation ends, also when it ends in a failure.
class TIgnoreListReset {
 public:
  explicit TIgnoreListReset(TTranslationInstance& instance) : instance_(instance) {}
  ~TIgnoreListReset() { instance_.ClearIgnoreList(); }

 private:
  TTranslationInstance& instance_;
};

// No value: the whole object is skipped.
std::optional<std::set<std::string>> IgnoredProperties(const QObject* object, const std::vector<TClassMode>& modes) {
  std::set<std::string> ignored;
  for (const TClassMode& mode : modes) {
    if (!object->metaObject()->inherits(mode.Class)) continue;
    if (mode.Properties.empty()) return std::nullopt;
    ignored.insert(mode.Properties.begin(), mode.Properties.end());
  }
  return ignored;
}

class TTreeTranslation {
 public:
  TTreeTranslation(TTranslationInstance& instance, std::string domain, std::set<std::string> ignoreList)
      : instance_(instance), domain_(std::move(domain)), ignoreList_(std::move(ignoreList)) {}

  void Run(QObject* root, const std::vector<TClassMode>& modes) {
    std::vector<TWorkItem> work{{root, std::string()}};
    std::unordered_set<const QObject*> done;
    for (size_t next = 0; next < work.size(); ++next) {
      const TWorkItem item = work[next];
      if (!item.Object || !done.insert(item.Object).second) continue;
      const std::optional<std::set<std::string>> ignoredProperties = IgnoredProperties(item.Object, modes);
      if (!ignoredProperties) continue;
      TranslateObject(item, *ignoredProperties, work);
    }
  }

 private:
  void TranslateObject(const TWorkItem& item, const std::set<std::string>& ignoredProperties,
                       std::vector<TWorkItem>& work) {
    const QMetaObject* type = item.Object->metaObject();
    auto skipped = [&](const std::string& property) {
      return ignoredProperties.count(property) != 0 || IsIgnored(ignoreList_, item.Name, property);
    };
    for (int index = 0; index < type->propertyCount(); ++index) {
      const char* property = type->property(index).name();
      if (skipped(UpperCase(property))) continue;
      try {
        TranslateProperty(item.Object, index, work);
      } catch (const std::exception& failure) {
        throw ETranslationError(PropertyFailure(item.Object, property, failure.what()));
      }
    }
    if (qobject_cast<QComboBox*>(item.Object) && !skipped(kComboItems)) {
      try {
        TranslateComboItems(static_cast<QComboBox*>(item.Object));
      } catch (const std::exception& failure) {
        throw ETranslationError(PropertyFailure(item.Object, "Items", failure.what()));
      }
    }
    for (QObject* child : item.Object->children()) {
      std::string name = UpperCase(child->objectName().toStdString());
      if (ignoreList_.count(name) == 0) work.push_back({child, std::move(name)});
    }
  }

  QString Translated(const QString& text) {
    return WithQtLineBreaks(instance_.TranslateInDomain(domain_, text.toStdString()));
  }

  void TranslateProperty(QObject* object, int index, std::vector<TWorkItem>& work) {
    const QMetaProperty property = object->metaObject()->property(index);
    const QMetaType type = property.metaType();
    if (type.flags() & QMetaType::PointerToQObject) {
      work.push_back({property.read(object).value<QObject*>(), std::string()});
      return;
    }
    if (!property.isWritable()) return;
    QVariant translated;
    if (type.id() == QMetaType::QString) {
      const QString value = property.read(object).toString();
      if (value.isEmpty()) return;
      const QString result = Translated(value);
      if (result == value) return;
      translated = result;
    } else if (type.id() == QMetaType::QStringList) {
      QStringList lines = property.read(object).toStringList();
      for (QString& line : lines)
        if (!line.isEmpty()) line = Translated(line);
      translated = lines;
    } else {
      return;
    }
    if (!property.write(object, translated)) throw ETranslationError("Property disappeared...");
  }

  void TranslateComboItems(QComboBox* combo) {
    for (int item = 0; item < combo->count(); ++item) {
      const QString text = combo->itemText(item);
      if (!text.isEmpty()) combo->setItemText(item, Translated(text));
    }
  }

  TTranslationInstance& instance_;
  const std::string domain_;
  const std::set<std::string> ignoreList_;
};
}  // namespace

void TranslateObjectTree(TTranslationInstance& instance, QObject* root, const std::string& domain) {
  const TIgnoreListReset reset(instance);
  TTreeTranslation translation(instance, domain.empty() ? instance.CurrentDomain() : domain, instance.IgnoreList());
  translation.Run(root, instance.ClassModes());
}

void TranslateObjectTree(QObject* root, const std::string& domain) {
  TranslateObjectTree(TranslationInstance(), root, domain);
}
