#pragma once
// The running test seen as a program installed under a temporary prefix: the executable in
// <root>/usr/bin/, the user's XDG_CONFIG_HOME <root>/home/.config, the administrators'
// XDG_CONFIG_DIRS <root>/etc/xdg. Everything is restored when it ends.

#include "Global.h"
#include "SettingsLocation.h"
#include "TempDir.h"

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

class TInstalledLayout {
 public:
  TInstalledLayout()
      : configHome_(Saved("XDG_CONFIG_HOME")), configDirs_(Saved("XDG_CONFIG_DIRS")) {
    std::filesystem::create_directories(BinDirectory());
    SetInstallPrefix(Root.File("usr"));
    SetExecutableDirectory(BinDirectory());
    ::setenv("XDG_CONFIG_HOME", Root.File("home/.config").c_str(), 1);
    ::setenv("XDG_CONFIG_DIRS", Root.File("etc/xdg").c_str(), 1);
  }
  ~TInstalledLayout() {
    Restore("XDG_CONFIG_HOME", configHome_);
    Restore("XDG_CONFIG_DIRS", configDirs_);
    SetExecutableDirectory("");
    SetInstallPrefix("");
  }
  TInstalledLayout(const TInstalledLayout&) = delete;
  TInstalledLayout& operator=(const TInstalledLayout&) = delete;

  std::string BinDirectory() const { return Root.File("usr/bin/"); }
  std::string UserDirectory() const { return Root.File("home/.config/scaledb/"); }
  std::string AdminDirectory() const { return Root.File("etc/xdg/scaledb/"); }

  TTempDir Root;

 private:
  static std::optional<std::string> Saved(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::optional<std::string>(value) : std::nullopt;
  }
  static void Restore(const char* name, const std::optional<std::string>& value) {
    if (value)
      ::setenv(name, value->c_str(), 1);
    else
      ::unsetenv(name);
  }

  std::optional<std::string> configHome_;
  std::optional<std::string> configDirs_;
};
