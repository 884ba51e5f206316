// The object-tree translation: a form, its owned components and the objects its properties name.

#include "TextForms.h"
#include "Translation.h"

#include <QComboBox>
#include <QMetaProperty>
#include <QObject>
#include <QStringList>

#include <unordered_set>

namespace {
// Combo box items are not a property in Qt; they are translated like a string-list property.
constexpr const char* kComboItems = "ITEMS";

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
  TIgnoreListReset(std::mutex& lock, std::set<std::string>& list) : lock_(lock), list_(list) {}
  ~TIgnoreListReset() {
    const std::lock_guard guard(lock_);
    list_.clear();
  }

 private:
  std::mutex& lock_;
  std::set<std::string>& list_;
};
}  // namespace

void TTranslationInstance::TranslateIgnore(QObject*, const std::string& name) {
  const std::lock_guard guard(ignoreLock_);
  ignoreList_.insert(UpperCase(name));
}

void TTranslationInstance::InsertClassMode(TClassMode mode) {
  auto position = classModes_.begin();
  while (position != classModes_.end() && !mode.Class->inherits(position->Class)) ++position;
  classModes_.insert(position, std::move(mode));
}

void TTranslationInstance::TranslateIgnoreClassProperty(const QMetaObject* type, const std::string& property) {
  const std::string name = UpperCase(property);
  const std::lock_guard guard(ignoreLock_);
  for (TClassMode& mode : classModes_) {
    if (mode.Class != type) continue;
    mode.Properties.push_back(name);
    return;
  }
  InsertClassMode({type, {name}});
}

void TTranslationInstance::TranslateIgnoreClass(const QMetaObject* type) {
  const std::lock_guard guard(ignoreLock_);
  for (TClassMode& mode : classModes_) {
    if (mode.Class != type) continue;
    mode.Properties.clear();
    return;
  }
  InsertClassMode({type, {}});
}

std::vector<TClassMode> TTranslationInstance::ClassModes() const {
  const std::lock_guard guard(ignoreLock_);
  return classModes_;
}

std::optional<std::set<std::string>> TTranslationInstance::IgnoredProperties(
    const QObject* object, const std::vector<TClassMode>& modes) const {
  std::set<std::string> ignored;
  for (const TClassMode& mode : modes) {
    if (!object->metaObject()->inherits(mode.Class)) continue;
    if (mode.Properties.empty()) return std::nullopt;
    ignored.insert(mode.Properties.begin(), mode.Properties.end());
  }
  return ignored;
}

void TTranslationInstance::TranslateObjectTree(QObject* root, const std::string& domain) {
  const TIgnoreListReset reset(ignoreLock_, ignoreList_);
  std::set<std::string> ignoreList;
  std::vector<TClassMode> modes;
  {
    const std::lock_guard guard(ignoreLock_);
    ignoreList = ignoreList_;
    modes = classModes_;
  }
  const std::string domainName = domain.empty() ? currentDomain_ : domain;
  std::vector<TWorkItem> work{{root, std::string()}};
  std::unordered_set<const QObject*> done;
  for (size_t next = 0; next < work.size(); ++next) {
    const TWorkItem item = work[next];
    if (!item.Object || !done.insert(item.Object).second) continue;
    const std::optional<std::set<std::string>> ignoredProperties = IgnoredProperties(item.Object, modes);
    if (!ignoredProperties) continue;
    TranslateObject(item, *ignoredProperties, ignoreList, domainName, work);
  }
}

void TTranslationInstance::TranslateObject(const TWorkItem& item, const std::set<std::string>& ignoredProperties,
                                           const std::set<std::string>& ignoreList, const std::string& domain,
                                           std::vector<TWorkItem>& work) {
  const QMetaObject* type = item.Object->metaObject();
  auto skipped = [&](const std::string& property) {
    return ignoredProperties.count(property) != 0 || IsIgnored(ignoreList, item.Name, property);
  };
  for (int index = 0; index < type->propertyCount(); ++index) {
    const char* property = type->property(index).name();
    if (skipped(UpperCase(property))) continue;
    try {
      TranslateProperty(item.Object, index, domain, work);
    } catch (const std::exception& failure) {
      throw ETranslationError(PropertyFailure(item.Object, property, failure.what()));
    }
  }
  if (qobject_cast<QComboBox*>(item.Object) && !skipped(kComboItems)) {
    try {
      TranslateComboItems(item.Object, domain);
    } catch (const std::exception& failure) {
      throw ETranslationError(PropertyFailure(item.Object, "Items", failure.what()));
    }
  }
  for (QObject* child : item.Object->children()) {
    std::string name = UpperCase(child->objectName().toStdString());
    if (ignoreList.count(name) == 0) work.push_back({child, std::move(name)});
  }
}

void TTranslationInstance::TranslateProperty(QObject* object, int index, const std::string& domain,
                                             std::vector<TWorkItem>& work) {
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
    const QString result = WithQtLineBreaks(TranslateInDomain(domain, value.toStdString()));
    if (result == value) return;
    translated = result;
  } else if (type.id() == QMetaType::QStringList) {
    QStringList lines = property.read(object).toStringList();
    for (QString& line : lines)
      if (!line.isEmpty()) line = WithQtLineBreaks(TranslateInDomain(domain, line.toStdString()));
    translated = lines;
  } else {
    return;
  }
  if (!property.write(object, translated)) throw ETranslationError("Property disappeared...");
}

void TTranslationInstance::TranslateComboItems(QObject* object, const std::string& domain) {
  auto* combo = static_cast<QComboBox*>(object);
  for (int item = 0; item < combo->count(); ++item) {
    const QString text = combo->itemText(item);
    if (!text.isEmpty()) combo->setItemText(item, WithQtLineBreaks(TranslateInDomain(domain, text.toStdString())));
  }
}
