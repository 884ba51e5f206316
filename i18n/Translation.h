#pragma once
// Run-time translation of user-visible texts from GNU gettext catalogues.
//
// One process-wide instance serves every thread; it is created by the first call of any function
// below (also during static initialisation) or explicitly by StartTranslation() at program start.

#include "TranslationError.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <vector>

class QObject;
struct QMetaObject;
class TMoCatalogue;

// What a lookup does with the failure of a catalogue that exists but cannot be used: raise it
// (once per domain, to the first lookup that raises), or leave it for the next lookup, when the
// caller has no way to show it (Qt's own texts).
enum class TFailure { Raise, LeaveForNextLookup };

// A text domain; its catalogue is searched for and mapped at the first lookup, once.
class TDomain {
 public:
  // `directories` end in '/' and are searched in order, each for the full language code and then
  // for its first two letters.
  TDomain(std::string name, std::vector<std::string> directories, std::string languageCode);
  ~TDomain();
  TDomain(const TDomain&) = delete;
  TDomain& operator=(const TDomain&) = delete;

  // The translation of `key`, if the catalogue has one; throws ETranslationError when the
  // catalogue that exists cannot be used (to one lookup only).
  std::optional<std::string_view> Find(std::string_view key, TFailure failure = TFailure::Raise);
  bool IsOpen() const { return open_.load(std::memory_order_acquire); }
  bool MayOpen() const { return mayOpen_.load(std::memory_order_acquire); }
  // Opens the catalogue if it was not tried yet; why it cannot be used, if no lookup took that yet.
  std::optional<std::string> TakeFailure();

 private:
  void OpenCatalogue();
  std::string CataloguePath(const std::string& directory, const std::string& languageCode) const;
  std::string ExistingCataloguePath() const;

  const std::string name_;
  const std::vector<std::string> directories_;
  const std::string languageCode_;
  std::mutex openLock_;
  std::atomic<bool> open_{false};
  std::atomic<bool> mayOpen_{true};
  std::unique_ptr<TMoCatalogue> catalogue_;
  std::string failure_;  // why the catalogue cannot be used
  std::atomic<bool> failurePending_{false};
};

// Properties skipped on objects of `Class` or a class derived from it; no names: the whole object.
struct TClassMode {
  const QMetaObject* Class;
  std::vector<std::string> Properties;
};

class TTranslationInstance {
 public:
  TTranslationInstance(std::string baseDirectory, std::string languageCode);
  // Catalogues are looked for in each base directory in turn.
  TTranslationInstance(std::vector<std::string> baseDirectories, std::string languageCode);
  ~TTranslationInstance();

  std::string Translate(const std::string& text);
  std::string TranslateInDomain(const std::string& domain, const std::string& text,
                                TFailure failure = TFailure::Raise);
  // Tries the resource-string domains in order; the first result that differs wins.
  std::string TranslateResourceString(const std::string& text, TFailure failure = TFailure::Raise);
  // The failure of every resource-string domain's catalogue that no lookup has taken yet.
  std::vector<std::string> TakeCatalogueFailures();

  // What the object-tree translation (ObjectTree.h, in the widgets library) skips.
  void TranslateIgnore(QObject* root, const std::string& name);
  void TranslateIgnoreClassProperty(const QMetaObject* type, const std::string& property);
  void TranslateIgnoreClass(const QMetaObject* type);
  std::vector<TClassMode> ClassModes() const;
  // The names given to TranslateIgnore; they hold for the next object-tree translation only.
  std::set<std::string> IgnoreList() const;
  void ClearIgnoreList();

  const std::string& CurrentDomain() const { return currentDomain_; }
  const std::string& LanguageCode() const { return languageCode_; }
  const std::string& BaseDirectory() const { return baseDirectories_.front(); }
  const std::vector<std::string>& BaseDirectories() const { return baseDirectories_; }

 private:
  TDomain& Domain(const std::string& name);
  void InsertClassMode(TClassMode mode);

  const std::vector<std::string> baseDirectories_;
  const std::string languageCode_;
  const std::string currentDomain_ = "default";

  std::shared_mutex domainsLock_;
  std::map<std::string, std::unique_ptr<TDomain>, std::less<>> domains_;

  mutable std::mutex ignoreLock_;
  std::set<std::string> ignoreList_;
  std::vector<TClassMode> classModes_;
};

// The process-wide instance: catalogues in "locale" beside the executable, then in the install
// prefix's share/scaledb/locale; language from the system.
TTranslationInstance& TranslationInstance();
// Creates the instance now and routes Qt's own texts through TranslateResourceString as soon as
// the application object exists. Called first thing in main().
void StartTranslation();

std::string Translate(const std::string& text);
std::string TranslateInDomain(const std::string& domain, const std::string& text);
void AddResourceStringDomain(const std::string& domain);
std::string TranslateResourceString(const std::string& text);
// Why each broken catalogue of the built-in texts cannot be used, once: for a program that shows
// what its start-up lookups could not.
std::vector<std::string> TakeCatalogueFailures();
// Skips the owned component `name` (or ".Property" of the root) in the next TranslateObjectTree.
void TranslateIgnore(QObject* root, const std::string& name);
void TranslateIgnoreClassProperty(const QMetaObject* type, const std::string& property);
