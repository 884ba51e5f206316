#include "SettingsLocation.h"

#include "Global.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>

namespace {
constexpr const char* kApplicationFolder = "scaledb";
constexpr const char* kConfigFileName = "config.xml";

std::string& InstallPrefixOverride() {
  static std::string prefix;
  return prefix;
}

std::string WithSlash(std::string directory) {
  if (!directory.empty() && directory.back() != '/') directory += '/';
  return directory;
}

// A directory of the install tree; GNUInstallDirs allows absolute ones too.
std::string InstallDirectory(const std::string& prefix, const std::string& relative) {
  return relative.starts_with('/') ? WithSlash(relative) : WithSlash(prefix) + WithSlash(relative);
}

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

std::string HomeFromPasswordDatabase() {
  const passwd* entry = ::getpwuid(::getuid());
  return entry && entry->pw_dir ? entry->pw_dir : "";
}

// The directory's canonical form; the text itself when it does not exist.
std::string Canonical(const std::string& directory) {
  char resolved[PATH_MAX];
  if (::realpath(directory.c_str(), resolved)) return WithSlash(resolved);
  return WithSlash(directory);
}

bool SameDirectory(const std::string& a, const std::string& b) { return Canonical(a) == Canonical(b); }

// Relative entries of the XDG variables are to be ignored.
bool IsAbsolute(const std::string& path) { return path.starts_with('/'); }

std::string UserConfigHome(const TSettingsEnvironment& environment) {
  if (IsAbsolute(environment.ConfigHome)) return WithSlash(environment.ConfigHome);
  if (IsAbsolute(environment.Home)) return WithSlash(environment.Home) + ".config/";
  return "";
}

std::vector<std::string> SharedConfigDirectories(const std::string& configDirs) {
  std::vector<std::string> directories;
  size_t start = 0;
  while (start <= configDirs.size()) {
    const size_t end = std::min(configDirs.find(':', start), configDirs.size());
    const std::string entry = configDirs.substr(start, end - start);
    if (IsAbsolute(entry)) directories.push_back(WithSlash(entry) + kApplicationFolder + "/");
    start = end + 1;
  }
  if (directories.empty()) directories.push_back(std::string("/etc/xdg/") + kApplicationFolder + "/");
  return directories;
}

bool IsRegularFile(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// Any entry counts, also a broken one: it is the user's file, loaded (or not) as it is.
bool Exists(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

// Creates every missing folder of `directory`, each private to the user.
void CreateDirectories(const std::string& directory) {
  for (size_t slash = directory.find('/', 1); slash != std::string::npos; slash = directory.find('/', slash + 1)) {
    const std::string part = directory.substr(0, slash);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return;
  }
}
}  // namespace

TSettingsEnvironment TSettingsEnvironment::Current() {
  TSettingsEnvironment environment;
  environment.ExecutableDirectory = ::ExecutableDirectory();
  environment.InstallPrefix = ::InstallPrefix();
  environment.ConfigHome = Environment("XDG_CONFIG_HOME");
  environment.Home = Environment("HOME");
  if (environment.Home.empty()) environment.Home = HomeFromPasswordDatabase();
  environment.ConfigDirs = Environment("XDG_CONFIG_DIRS");
  return environment;
}

TSettingsPlaces SettingsPlacesFor(const TSettingsEnvironment& environment) {
  TSettingsPlaces places;
  places.Directory = WithSlash(environment.ExecutableDirectory);
  const std::string configHome = UserConfigHome(environment);
  const bool installed = SameDirectory(environment.ExecutableDirectory,
                                       InstallDirectory(environment.InstallPrefix, SCALEDB_INSTALL_BINDIR));
  if (installed && !configHome.empty()) {
    places.Directory = configHome + kApplicationFolder + "/";
    places.PerUser = true;
    places.SharedDirectories = SharedConfigDirectories(environment.ConfigDirs);
  } else if (!configHome.empty()) {
    places.FallbackDirectory = configHome + kApplicationFolder + "/";
  }
  places.CatalogueDirectories = {
      WithSlash(environment.ExecutableDirectory) + "locale",
      InstallDirectory(environment.InstallPrefix, SCALEDB_INSTALL_DATADIR) + kApplicationFolder + "/locale"};
  return places;
}

TSettingsPlaces SettingsPlaces() { return SettingsPlacesFor(TSettingsEnvironment::Current()); }

namespace {
// A save there replaces the file through its folder, or overwrites the file in place; nothing
// replaces a folder of that name.
bool TakesFile(const std::string& directory, const std::string& name) {
  const std::string path = directory + name;
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return false;
  return ::access(directory.c_str(), W_OK) == 0 || ::access(path.c_str(), W_OK) == 0;
}

// The place of `name`: beside the program, unless that takes no file and an earlier save went to
// the fallback folder.
std::string PlaceOf(const TSettingsPlaces& places, const std::string& name) {
  const bool fallen = !places.FallbackDirectory.empty() && !TakesFile(places.Directory, name) &&
                      Exists(places.FallbackDirectory + name);
  return (fallen ? places.FallbackDirectory : places.Directory) + name;
}
}  // namespace

std::string SettingsFile(const std::string& name) { return PlaceOf(SettingsPlaces(), name); }

std::string SettingsFileForSaving(const std::string& name) {
  const TSettingsPlaces places = SettingsPlaces();
  if (places.PerUser) CreateDirectories(places.Directory);
  return PlaceOf(places, name);
}

std::string FallbackSettingsFileForSaving(const std::string& name) {
  const TSettingsPlaces places = SettingsPlaces();
  if (places.FallbackDirectory.empty()) return {};
  CreateDirectories(places.FallbackDirectory);
  return places.FallbackDirectory + name;
}

std::string ConfigFileToLoad() {
  const TSettingsPlaces places = SettingsPlaces();
  const std::string own = PlaceOf(places, kConfigFileName);
  if (!places.PerUser || Exists(own)) return own;
  for (const std::string& shared : places.SharedDirectories)
    if (IsRegularFile(shared + kConfigFileName)) return shared + kConfigFileName;
  return own;
}

std::string InstallPrefix() {
  const std::string& override = InstallPrefixOverride();
  return override.empty() ? SCALEDB_INSTALL_PREFIX : override;
}

void SetInstallPrefix(const std::string& prefix) { InstallPrefixOverride() = prefix; }
