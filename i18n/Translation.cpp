#include "Translation.h"

#include "BuiltInTexts.h"
#include "LanguageCode.h"
#include "MoCatalogue.h"
#include "SettingsLocation.h"
#include "TextForms.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>

#include <sys/stat.h>

namespace {
// The domains searched for built-in texts; "cport" is added by the serial port unit.
struct TResourceStringDomains {
  std::shared_mutex Lock;
  std::vector<std::string> Names{"default"};
};

// Never destroyed, so that lookups stay valid in static destructors of other units.
TResourceStringDomains& ResourceStringDomains() {
  static auto* domains = new TResourceStringDomains;
  return *domains;
}

bool FileExists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

std::string CouldNotTranslate(const std::string& text) {
  return "Error: Could not translate " + text +
         ". Probably because the mo file doesn't contain utf-8 encoded translations.";
}
}  // namespace

// ---------------------------------------------------------------- TDomain

TDomain::TDomain(std::string name, std::vector<std::string> directories, std::string languageCode)
    : name_(std::move(name)), directories_(std::move(directories)), languageCode_(std::move(languageCode)) {}

TDomain::~TDomain() = default;

std::string TDomain::CataloguePath(const std::string& directory, const std::string& languageCode) const {
  return directory + languageCode + "/LC_MESSAGES/" + name_ + ".mo";
}

std::string TDomain::ExistingCataloguePath() const {
  for (const std::string& directory : directories_)
    for (const std::string& code : {languageCode_, languageCode_.substr(0, 2)}) {
      std::string path = CataloguePath(directory, code);
      if (FileExists(path)) return path;
    }
  return "";
}

void TDomain::OpenCatalogue() {
  const std::lock_guard lock(openLock_);
  if (IsOpen() || !MayOpen()) return;
  const std::string path = ExistingCataloguePath();
  if (path.empty()) {
    mayOpen_.store(false, std::memory_order_release);
    return;
  }
  try {
    catalogue_ = TMoCatalogue::Open(path);
  } catch (const ETranslationError& error) {
    failure_ = error.what();
    failurePending_.store(true, std::memory_order_release);
    mayOpen_.store(false, std::memory_order_release);
    return;
  }
  open_.store(true, std::memory_order_release);
}

std::optional<std::string_view> TDomain::Find(std::string_view key, TFailure failure) {
  if (!IsOpen() && MayOpen()) OpenCatalogue();
  if (IsOpen()) return catalogue_->Find(key);
  if (failure == TFailure::Raise)
    if (std::optional<std::string> why = TakeFailure()) throw ETranslationError(*why);
  return std::nullopt;
}

std::optional<std::string> TDomain::TakeFailure() {
  if (!IsOpen() && MayOpen()) OpenCatalogue();
  if (!failurePending_.exchange(false, std::memory_order_acq_rel)) return std::nullopt;
  return failure_;
}

// ---------------------------------------------------------------- TTranslationInstance

TTranslationInstance::TTranslationInstance(std::string baseDirectory, std::string languageCode)
    : TTranslationInstance(std::vector<std::string>{std::move(baseDirectory)}, std::move(languageCode)) {}

TTranslationInstance::TTranslationInstance(std::vector<std::string> baseDirectories, std::string languageCode)
    : baseDirectories_(std::move(baseDirectories)), languageCode_(std::move(languageCode)) {
  Domain(currentDomain_);
  TranslateIgnoreClassProperty(&QObject::staticMetaObject, "objectName");
}

TTranslationInstance::~TTranslationInstance() = default;

TDomain& TTranslationInstance::Domain(const std::string& name) {
  {
    const std::shared_lock reading(domainsLock_);
    const auto found = domains_.find(name);
    if (found != domains_.end()) return *found->second;
  }
  const std::unique_lock writing(domainsLock_);
  auto& domain = domains_[name];
  if (!domain) {
    std::vector<std::string> directories;
    for (const std::string& base : baseDirectories_) directories.push_back(base + "/");
    domain = std::make_unique<TDomain>(name, std::move(directories), languageCode_);
  }
  return *domain;
}

std::string TTranslationInstance::TranslateInDomain(const std::string& domain, const std::string& text,
                                                    TFailure failure) {
  // The empty identifier is the catalogue's header, not a translation.
  if (text.empty()) return text;
  const std::string key = WithoutCarriageReturns(text);
  const std::optional<std::string_view> found = Domain(domain).Find(key, failure);
  // An empty translation marks an entry as not translated yet.
  if (!found || found->empty()) return WithCarriageReturnBeforeLineFeed(key);
  if (!IsValidUtf8(*found)) throw ETranslationError(CouldNotTranslate(text));
  return WithCarriageReturnBeforeLineFeed(*found);
}

std::string TTranslationInstance::Translate(const std::string& text) { return TranslateInDomain(currentDomain_, text); }

std::string TTranslationInstance::TranslateResourceString(const std::string& text, TFailure failure) {
  TResourceStringDomains& domains = ResourceStringDomains();
  const std::shared_lock reading(domains.Lock);
  for (const std::string& domain : domains.Names) {
    std::string result = TranslateInDomain(domain, text, failure);
    if (result != text) return result;
  }
  return text;
}

// ---------------------------------------------------------------- what the object-tree translation skips

void TTranslationInstance::TranslateIgnore(QObject*, const std::string& name) {
  const std::lock_guard guard(ignoreLock_);
  ignoreList_.insert(UpperCase(name));
}

std::set<std::string> TTranslationInstance::IgnoreList() const {
  const std::lock_guard guard(ignoreLock_);
  return ignoreList_;
}

void TTranslationInstance::ClearIgnoreList() {
  const std::lock_guard guard(ignoreLock_);
  ignoreList_.clear();
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

std::vector<std::string> TTranslationInstance::TakeCatalogueFailures() {
  TResourceStringDomains& domains = ResourceStringDomains();
  const std::shared_lock reading(domains.Lock);
  std::vector<std::string> failures;
  for (const std::string& domain : domains.Names)
    if (std::optional<std::string> failure = Domain(domain).TakeFailure()) failures.push_back(std::move(*failure));
  return failures;
}

// ---------------------------------------------------------------- process-wide entry points

TTranslationInstance& TranslationInstance() {
  static TTranslationInstance* instance = [] {
    ResourceStringDomains();
    return new TTranslationInstance(SettingsPlaces().CatalogueDirectories, ChooseLanguageCode(SystemLocaleFacts()));
  }();
  return *instance;
}

void StartTranslation() {
  static std::once_flag started;
  std::call_once(started, [] {
    TranslationInstance();
    qAddPreRoutine([] { InstallBuiltInTextRouter(TranslationInstance(), QCoreApplication::instance()); });
  });
}

std::string Translate(const std::string& text) { return TranslationInstance().Translate(text); }

std::string TranslateInDomain(const std::string& domain, const std::string& text) {
  return TranslationInstance().TranslateInDomain(domain, text);
}

void AddResourceStringDomain(const std::string& domain) {
  TResourceStringDomains& domains = ResourceStringDomains();
  const std::unique_lock writing(domains.Lock);
  for (const std::string& name : domains.Names)
    if (name == domain) return;
  domains.Names.push_back(domain);
}

std::string TranslateResourceString(const std::string& text) {
  return TranslationInstance().TranslateResourceString(text);
}

std::vector<std::string> TakeCatalogueFailures() { return TranslationInstance().TakeCatalogueFailures(); }

void TranslateIgnore(QObject* root, const std::string& name) { TranslationInstance().TranslateIgnore(root, name); }

void TranslateIgnoreClassProperty(const QMetaObject* type, const std::string& property) {
  TranslationInstance().TranslateIgnoreClassProperty(type, property);
}
