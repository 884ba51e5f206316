// Which links name one scale: the key the ledger and the lock go by.

#include "Link.h"
#include "ScaleKey.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {
// A /dev of two adapters, one with a by-id link, and a ports folder naming both as COM ports.
class TFakeDevices {
 public:
  TFakeDevices() {
    namespace fs = std::filesystem;
    fs::create_directories(dir.File("dev/serial/by-id"));
    fs::create_directories(dir.File("ports"));
    dir.Write("dev/ttyUSB0", "");
    dir.Write("dev/ttyUSB1", "");
    fs::create_symlink("../../ttyUSB0", dir.File("dev/serial/by-id/usb-FTDI_FT232R_A1-if00-port0"));
    fs::create_symlink(dir.File("dev/ttyUSB0"), dir.File("ports/COM5"));
    fs::create_symlink(dir.File("dev/ttyUSB1"), dir.File("ports/COM6"));
    setenv("SCALEDB_PORTS_DIR", dir.File("ports").c_str(), 1);
  }
  ~TFakeDevices() { unsetenv("SCALEDB_PORTS_DIR"); }

  std::string Root() const { return dir.File("dev"); }

  TTempDir dir;
};
}  // namespace

TEST(ScaleKey, EveryNameOfOneScaleGivesOneKeyAndOnlyThat) {
  const TFakeDevices devices;
  const std::string byId = "serial:" + devices.Root() + "/serial/by-id/usb-FTDI_FT232R_A1-if00-port0";
  const std::string plain = "serial:" + std::filesystem::canonical(devices.Root() + "/ttyUSB1").string();
  const struct {
    std::string Link;
    std::string Key;
  } cases[] = {
      {"tcp:127.0.0.1:4001", "tcp:127.0.0.1:4001"},
      {"tcp:localhost:4001", "tcp:127.0.0.1:4001"},
      {"tcp:127.1:4001", "tcp:127.0.0.1:4001"},
      {"tcp:LOCALHOST:4001", "tcp:127.0.0.1:4001"},
      {"tcp:127.0.0.1:4002", "tcp:127.0.0.1:4002"},
      // A UDP link sends to four decimal parts as written, and to no host name.
      {"udp:127.0.0.1:1001", "udp:127.0.0.1:1001"},
      {"udp:127.000.0.01:1001", "udp:127.0.0.1:1001"},
      {"udp:localhost:1001", "udp:localhost:1001"},
      {"tcp:127.0.0.1:1001", "tcp:127.0.0.1:1001"},
      // The rate is left out; a COM name, the device and its by-id link are one port.
      {"serial:COM5@9600", byId},
      {"serial:com5@19200", byId},
      {"serial:" + devices.Root() + "/ttyUSB0", byId},
      {byId + "@9600", byId},
      {"serial:COM6", plain},
      {"serial:" + devices.Root() + "/ttyUSB1", plain},
  };
  for (const auto& c : cases) {
    const std::optional<TLinkSettings> link = LinkSettingsFromName(c.Link);
    ASSERT_TRUE(link) << c.Link;
    EXPECT_EQ(ScaleKeyOf(*link, devices.Root()), c.Key) << c.Link;
  }
}
