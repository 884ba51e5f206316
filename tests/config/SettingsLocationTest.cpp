#include "Global.h"
#include "InstalledLayout.h"
#include "SettingsLocation.h"
#include "TempDir.h"
#include "XMLConfig.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {
// ---------------------------------------------------------------- the rule

struct TPlaceCase {
  const char* name;
  const char* executableDirectory;  // below the temporary root
  const char* configHome;
  const char* home;
  const char* configDirs;
  const char* directory;  // expected, below the root unless absolute
  bool perUser;
  std::vector<std::string> shared;  // expected, below the root unless absolute
};

class config_SettingsPlaces : public ::testing::TestWithParam<TPlaceCase> {
 protected:
  config_SettingsPlaces() {
    std::filesystem::create_directories(root.File("usr/bin"));
    std::filesystem::create_directories(root.File("build/app"));
    std::filesystem::create_directory_symlink(root.File("usr"), root.File("usr-link"));
  }
  std::string Below(const std::string& path) const { return path.starts_with('/') ? path : root.File(path); }
  std::string BelowOrEmpty(const char* path) const { return *path ? Below(path) : ""; }

  TTempDir root;
};

TEST_P(config_SettingsPlaces, FollowTheInstallPrefixAndTheXdgVariables) {
  const TPlaceCase& c = GetParam();
  TSettingsEnvironment environment;
  environment.ExecutableDirectory = root.File(c.executableDirectory);
  environment.InstallPrefix = root.File("usr");
  environment.ConfigHome = *c.configHome == '/' ? root.File(c.configHome + 1) : c.configHome;
  environment.Home = BelowOrEmpty(c.home);
  environment.ConfigDirs = c.configDirs;
  const TSettingsPlaces places = SettingsPlacesFor(environment);
  EXPECT_EQ(places.Directory, Below(c.directory));
  EXPECT_EQ(places.PerUser, c.perUser);
  std::vector<std::string> shared;
  for (const std::string& directory : c.shared) shared.push_back(Below(directory));
  EXPECT_EQ(places.SharedDirectories, shared);
  EXPECT_EQ(places.CatalogueDirectories,
            (std::vector<std::string>{root.File(c.executableDirectory) + "locale",
                                      root.File("usr/share/scaledb/locale")}));
}

INSTANTIATE_TEST_SUITE_P(
    config_, config_SettingsPlaces,
    ::testing::Values(
        TPlaceCase{"XdgConfigHome", "usr/bin/", "/cfg", "home", "", "cfg/scaledb/", true, {"/etc/xdg/scaledb/"}},
        TPlaceCase{"HomeWithoutXdg", "usr/bin/", "", "home", "", "home/.config/scaledb/", true, {"/etc/xdg/scaledb/"}},
        TPlaceCase{"RelativeXdgIsIgnored", "usr/bin/", "cfg", "home", "", "home/.config/scaledb/", true,
                   {"/etc/xdg/scaledb/"}},
        TPlaceCase{"PrefixReachedThroughALink", "usr-link/bin/", "/cfg", "home", "", "cfg/scaledb/", true,
                   {"/etc/xdg/scaledb/"}},
        TPlaceCase{"AdministratorFolders", "usr/bin/", "/cfg", "home", "/srv/a:relative::/srv/b/", "cfg/scaledb/",
                   true, {"/srv/a/scaledb/", "/srv/b/scaledb/"}},
        TPlaceCase{"BuildFolder", "build/app/", "/cfg", "home", "", "build/app/", false, {}},
        TPlaceCase{"PrefixItselfIsNotBin", "usr/", "/cfg", "home", "", "usr/", false, {}},
        TPlaceCase{"NoHomeAtAll", "usr/bin/", "", "", "", "usr/bin/", false, {}}),
    [](const ::testing::TestParamInfo<TPlaceCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- an installed program's config.xml

class config_InstalledConfig : public ::testing::Test {
 protected:
  void SetUp() override {
    ConnectionSettings = {};
    OptionSettings = {};
  }
  void StartUp() {
    config = TXMLConfig{};
    OpenConfig(config);
    ReadConfig(config);
  }
  static std::string Config(const std::string& host) {
    return "<RS232Config><Interface><Kind>Eth</Kind><Host>" + host + "</Host></Interface></RS232Config>";
  }

  TInstalledLayout layout;
  TXMLConfig config;
};

TEST_F(config_InstalledConfig, StartsFromTheAdministratorsFileAndSavesTheUsersOwn) {
  std::filesystem::create_directories(layout.AdminDirectory());
  layout.Root.Write("etc/xdg/scaledb/config.xml", Config("127.0.0.5"));
  StartUp();
  EXPECT_EQ(ConnectionSettings.Kind, 1);
  EXPECT_EQ(ConnectionSettings.Host, "127.0.0.5");
  EXPECT_EQ(OptionSettings.OrdersFileName, layout.UserDirectory() + "orders.xml");
  ConnectionSettings.Port = 4321;
  WriteConfig(config);

  const std::string saved = layout.Root.Read("home/.config/scaledb/config.xml");
  EXPECT_NE(saved.find("<Host>127.0.0.5</Host><Protocol>TCP</Protocol><Port>4321</Port>"), std::string::npos) << saved;
  struct stat info {};
  ASSERT_EQ(::stat(layout.UserDirectory().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  EXPECT_EQ(layout.Root.Read("etc/xdg/scaledb/config.xml"), Config("127.0.0.5"));
  EXPECT_TRUE(std::filesystem::is_empty(layout.BinDirectory()));

  layout.Root.Write("etc/xdg/scaledb/config.xml", Config("127.0.0.9"));
  StartUp();
  EXPECT_EQ(ConnectionSettings.Host, "127.0.0.5") << "the user's own file wins once it exists";
  EXPECT_EQ(ConnectionSettings.Port, 4321);
}

TEST_F(config_InstalledConfig, WithoutAnyFileStartsFromTheDefaults) {
  StartUp();
  EXPECT_EQ(ConnectionSettings.Host, kDefaultHost);
  EXPECT_EQ(ConnectionSettings.Port, 1001);
  WriteConfig(config);
  EXPECT_TRUE(std::filesystem::is_regular_file(layout.UserDirectory() + "config.xml"));
  EXPECT_TRUE(std::filesystem::is_empty(layout.BinDirectory()));
}
}  // namespace
