#pragma once
// Where the settings files and the catalogues are.
//
// A program run from its install prefix's bin/ (as installed by the package) keeps config.xml and
// RuzOzodArir.ini per user in $XDG_CONFIG_HOME/scaledb/, by default ~/.config/scaledb/; until the
// user has a config.xml there, it starts from an administrator's scaledb/config.xml in
// $XDG_CONFIG_DIRS (by default /etc/xdg). A program run from anywhere else (the build folder, a
// copied folder) keeps both files beside itself; where a file cannot be saved there (a folder the
// user may not write), it is saved in the user's folder instead and read from there as long as
// the place beside the program still takes no file. Catalogues are looked for in locale/ beside
// the executable, then in the install prefix's share/scaledb/locale/.
//
// Qt Widgets free, so that command-line programs find the same files.

#include <string>
#include <vector>

// What decides the places.
struct TSettingsEnvironment {
  std::string ExecutableDirectory;  // with a trailing '/'
  std::string InstallPrefix;        // the CMake install prefix, e.g. "/usr"
  std::string ConfigHome;           // $XDG_CONFIG_HOME
  std::string Home;                 // $HOME, else the user's home from the password database
  std::string ConfigDirs;           // $XDG_CONFIG_DIRS, directories separated by ':'

  // The running program's.
  static TSettingsEnvironment Current();
};

struct TSettingsPlaces {
  std::string Directory;  // the settings files are read and saved here; ends in '/'
  bool PerUser = false;   // the directory is the user's and is created on the first save
  // Folders, each ending in '/', searched in order for an administrator's config.xml (per-user only).
  std::vector<std::string> SharedDirectories;
  // Where a program kept beside itself saves what its own folder cannot take; empty when installed
  // or without a home.
  std::string FallbackDirectory;
  // Catalogue base directories (each holding <lang>/LC_MESSAGES/<domain>.mo), in search order.
  std::vector<std::string> CatalogueDirectories;
};

TSettingsPlaces SettingsPlacesFor(const TSettingsEnvironment& environment);
TSettingsPlaces SettingsPlaces();

// The path of the settings file `name` (config.xml, RuzOzodArir.ini) to read.
std::string SettingsFile(const std::string& name);
// The same path for a save; creates the per-user directory (mode 0700) when it is missing.
std::string SettingsFileForSaving(const std::string& name);
// Where to save `name` when the save to SettingsFileForSaving failed: the fallback folder's file,
// which is created; empty when there is none.
std::string FallbackSettingsFileForSaving(const std::string& name);
// The config.xml to load: the settings directory's; when a per-user directory has none yet, the
// first administrator's one that exists; else the settings directory's (which may not exist).
std::string ConfigFileToLoad();

// The built-in install prefix; tests point it elsewhere, and an empty text restores it.
std::string InstallPrefix();
void SetInstallPrefix(const std::string& prefix);
