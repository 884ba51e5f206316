// The diagnosis of serial ports over fake sysfs, /dev, /proc and group-file trees.

#include "PortSurvey.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <unistd.h>

namespace {
namespace fs = std::filesystem;

const char kUsbDevices[] = "sys/devices/pci0000:00/0000:00:14.0/usb1/";
const char kFtdiById[] = "usb-FTDI_FT232R_USB_UART_A9XYZ-if00-port0";
const char kFtdiByIdPath[] = "serial/by-id/usb-FTDI_FT232R_USB_UART_A9XYZ-if00-port0";
const char kFtdiByPath[] = "pci-0000:00:14.0-usb-0:2:1.0-port0";
const char kCh340ByPath[] = "pci-0000:00:14.0-usb-0:5:1.0-port0";

struct TFakeAdapter {
  std::string Tty;  // "ttyUSB1", "ttyACM0", or empty for an adapter without a serial device
  std::string Socket;
  std::string VendorId, ProductId, Manufacturer, Product, Serial;
  std::string Driver;
  std::string InterfaceClass = "ff";
};

// A system in a temporary directory: sys/, dev/, proc/, group, ports/.
class TFakeSystem {
 public:
  TFakeSystem() {
    for (const char* folder :
         {"sys/class/tty", "sys/bus/usb/devices", "dev/serial/by-id", "dev/serial/by-path", "proc", "ports"})
      fs::create_directories(root_.File(folder));
    SetGroupFile("");
  }

  TPortRoots Roots() const { return {Path("sys"), Path("dev"), Path("proc"), Path("group"), Path("ports")}; }
  std::string Path(const std::string& name) const { return fs::weakly_canonical(root_.File(name)).string(); }

  // An adapter in its USB socket; with a tty, the tty's class entry, its device file (0660) and
  // its by-id link.
  void AddUsb(const TFakeAdapter& usb, const std::string& byId = {}) const {
    const std::string device = kUsbDevices + usb.Socket;
    const std::string interface = device + "/" + usb.Socket + ":1.0";
    fs::create_directories(root_.File(interface));
    root_.Write(device + "/idVendor", usb.VendorId + "\n");
    root_.Write(device + "/idProduct", usb.ProductId + "\n");
    if (!usb.Manufacturer.empty()) root_.Write(device + "/manufacturer", usb.Manufacturer + "\n");
    if (!usb.Product.empty()) root_.Write(device + "/product", usb.Product + "\n");
    if (!usb.Serial.empty()) root_.Write(device + "/serial", usb.Serial + "\n");
    root_.Write(interface + "/bInterfaceClass", usb.InterfaceClass + "\n");
    fs::create_directory_symlink(Path(device), root_.File("sys/bus/usb/devices/" + usb.Socket));
    if (usb.Tty.empty()) return;
    // ttyUSB ports hang below their interface, ttyACM ports are the interface.
    const std::string ttyDevice = usb.Tty.starts_with("ttyUSB") ? interface + "/" + usb.Tty : interface;
    fs::create_directories(root_.File(ttyDevice));
    LinkDriver(ttyDevice, "usb", usb.Driver);
    AddTty(usb.Tty, ttyDevice);
    if (!byId.empty()) AddStableName("by-id", byId, usb.Tty);
  }
  // An 8250 port of a kernel from 6.5 on: the tty's device is a serial-base "port" below a "ctrl",
  // below the platform device of the driver.
  void AddUart(const std::string& tty, const std::string& type) const {
    const std::string platform = "sys/devices/platform/serial8250";
    const std::string port = platform + "/serial8250:0/serial8250:0." + tty.substr(4);
    fs::create_directories(root_.File(port));
    LinkDriver(platform, "platform", "serial8250");
    LinkDriver(platform + "/serial8250:0", "serial-base", "ctrl");
    LinkDriver(port, "serial-base", "port");
    AddTty(tty, port);
    root_.Write("sys/class/tty/" + tty + "/type", type + "\n");
  }
  // The adapter's USB device, its tty and the tty's device file go; udev's links stay behind,
  // leading nowhere.
  void Unplug(const TFakeAdapter& usb) const {
    for (const std::string& path :
         {kUsbDevices + usb.Socket, "sys/bus/usb/devices/" + usb.Socket, "sys/class/tty/" + usb.Tty, "dev/" + usb.Tty})
      fs::remove_all(root_.File(path));
  }
  void Remove(const std::string& path) const { fs::remove(root_.File(path)); }
  // A link in /dev/serial/by-id or by-path.
  void AddStableName(const std::string& kind, const std::string& name, const std::string& tty) const {
    fs::create_symlink("../../" + tty, root_.File("dev/serial/" + kind + "/" + name));
  }
  // /proc/self, as the kernel shows it to the process with that pid.
  void SetSelf(int pid) const { fs::create_symlink(std::to_string(pid), root_.File("proc/self")); }
  void AddProcess(int pid, const std::string& program, const std::string& heldDevice = {}) const {
    const std::string base = "proc/" + std::to_string(pid);
    fs::create_directories(root_.File(base + "/fd"));
    root_.Write(base + "/comm", program + "\n");
    if (!heldDevice.empty()) fs::create_symlink(Path("dev/" + heldDevice), root_.File(base + "/fd/3"));
  }
  // The group of the fake device files is the test's own group, named dialout here.
  void SetGroupFile(const std::string& members) const {
    root_.Write("group", "dialout:x:" + std::to_string(getegid()) + ":" + members + "\nuucp:x:10:\n");
  }
  void AddComLink(const std::string& name, const std::string& target) const {
    fs::create_symlink(target, root_.File("ports/" + name));
  }

 private:
  // Once per device: the ports of one 8250 controller share it and its platform device.
  void LinkDriver(const std::string& device, const std::string& bus, const std::string& driver) const {
    const std::string directory = "sys/bus/" + bus + "/drivers/" + driver;
    fs::create_directories(root_.File(directory));
    const std::string link = root_.File(device + "/driver");
    if (!fs::is_symlink(link)) fs::create_directory_symlink(Path(directory), link);
  }
  // The tty's class entry and its device file (0660).
  void AddTty(const std::string& tty, const std::string& device) const {
    fs::create_directories(root_.File("sys/class/tty/" + tty));
    fs::create_directory_symlink(Path(device), root_.File("sys/class/tty/" + tty + "/device"));
    root_.Write("dev/" + tty, "");
    fs::permissions(root_.File("dev/" + tty), fs::perms(0660));
  }

  TTempDir root_;
};

const TFakeAdapter kFtdi{"ttyUSB1", "1-2", "0403", "6001", "FTDI", "FT232R", "A9XYZ", "ftdi_sio"};
const TFakeAdapter kCh340Taken{"", "1-3", "1a86", "7523", "QinHeng Electronics", "USB Serial", "", ""};
const TFakeAdapter kCh340{"ttyUSB2", "1-5", "1a86", "7523", "QinHeng Electronics", "USB Serial", "", "ch341"};
const TFakeAdapter kArduino{"ttyACM0", "1-4", "2341", "0043", "Arduino (www.arduino.cc)", "Uno", "7573", "cdc_acm", "02"};

TUserIdentity InDialout() { return {"anna", 4242, {getegid()}}; }
TUserIdentity NotInDialout() { return {"anna", 4242, {4242}}; }

std::string Findings(const TPortSurvey& survey, const std::string& path) {
  std::string text;
  for (const std::string& finding : DeviceFindings(survey, DescribeDevice(survey, path))) text += finding;
  return text;
}
}  // namespace

TEST(PortSurvey, EachCauseIsNamedWithItsFixAndAHealthyPortWithNothing) {
  const std::string brlttyFix =
      "Without a braille display remove it: sudo apt remove brltty; else stop it taking adapters: sudo systemctl mask "
      "brltty-udev.service brltty.service. Then unplug the adapter and plug it in again.";
  const struct {
    const char* Cause;
    std::function<void(const TFakeSystem&)> Arrange;
    TUserIdentity User;
    const char* Device;
    int Error;  // 0: what the port list says about the device
    std::string Expected;
  } cases[] = {
      {"healthy", [](const TFakeSystem&) {}, InDialout(), "ttyUSB1", 0, ""},
      {"not in the group", [](const TFakeSystem&) {}, NotInDialout(), "ttyUSB1", EACCES,
       "You may not open /dev/ttyUSB1 (group dialout). Add yourself: sudo usermod -aG dialout $USER, then log out "
       "and in again."},
      {"in the group file, not in the session", [](const TFakeSystem& system) { system.SetGroupFile("bob,anna"); },
       NotInDialout(), "ttyUSB1", EACCES,
       "You may not open /dev/ttyUSB1 (group dialout). You are in the group, but this session began before you were "
       "added: log out and in again."},
      {"renamed", [](const TFakeSystem&) {}, InDialout(), "ttyUSB0", ENOENT,
       "/dev/ttyUSB0 does not exist; the adapter FTDI FT232R (A9XYZ) is now /dev/ttyUSB1. Name it by "
       "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A9XYZ-if00-port0, which stays."},
      {"its by-id name missing, the adapter there",
       [](const TFakeSystem& system) {
         system.Remove(std::string("dev/serial/by-id/") + kFtdiById);
         system.AddStableName("by-path", kFtdiByPath, kFtdi.Tty);
       },
       InDialout(), kFtdiByIdPath, ENOENT,
       "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A9XYZ-if00-port0 does not exist; the adapter FTDI FT232R (A9XYZ) is "
       "now /dev/ttyUSB1. Name it by /dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0, which stays while it is "
       "plugged into the same socket."},
      {"gone, another adapter's by-id name",
       [](const TFakeSystem& system) {
         system.Unplug(kFtdi);
         system.AddUsb(kArduino);
       },
       InDialout(), kFtdiByIdPath, ENOENT,
       "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A9XYZ-if00-port0 does not exist; plugged in is Arduino "
       "(www.arduino.cc) Uno (7573) as /dev/ttyACM0."},
      {"gone, an adapter of another family",
       [](const TFakeSystem& system) {
         system.Unplug(kFtdi);
         system.AddUsb(kArduino);
       },
       InDialout(), "ttyUSB0", ENOENT,
       "/dev/ttyUSB0 does not exist; plugged in is Arduino (www.arduino.cc) Uno (7573) as /dev/ttyACM0. Name the "
       "adapter by its /dev/serial/by-id/ name, which stays."},
      {"gone, two adapters", [](const TFakeSystem& system) { system.AddUsb(kArduino); }, InDialout(), "ttyUSB0", ENOENT,
       "/dev/ttyUSB0 does not exist; plugged in are Arduino (www.arduino.cc) Uno (7573) as /dev/ttyACM0 and FTDI "
       "FT232R (A9XYZ) as /dev/ttyUSB1. Name the adapter by its /dev/serial/by-id/ name, which stays."},
      {"gone, no adapter", [](const TFakeSystem& system) { system.Unplug(kFtdi); }, InDialout(), "ttyUSB0", ENOENT,
       "/dev/ttyUSB0 does not exist, and no USB-serial adapter is plugged in."},
      {"held", [](const TFakeSystem& system) { system.AddProcess(812, "minicom", "ttyUSB1"); }, InDialout(), "ttyUSB1",
       EBUSY, "/dev/ttyUSB1 is held by pid 812 (minicom)."},
      {"held by this program only",
       [](const TFakeSystem& system) {
         system.AddProcess(4711, "scaledb", "ttyUSB1");
         system.SetSelf(4711);
       },
       InDialout(), "ttyUSB1", 0, ""},
      {"held exclusively, no holder in sight", [](const TFakeSystem&) {}, InDialout(), "ttyUSB1", EBUSY,
       "/dev/ttyUSB1 is held exclusively by a program /proc does not show (another user's or root's); sudo fuser -v "
       "/dev/ttyUSB1 names it."},
      {"brltty took the adapter",
       [](const TFakeSystem& system) {
         system.AddProcess(300, "brltty");
         system.AddUsb(kCh340Taken);
       },
       InDialout(), "ttyUSB0", ENOENT,
       "/dev/ttyUSB0 does not exist: brltty (the braille display service) took the adapter QinHeng Electronics USB "
       "Serial for a braille display. " + brlttyFix},
      {"ModemManager probes a modem-class port",
       [](const TFakeSystem& system) {
         system.AddProcess(640, "ModemManager");
         system.AddUsb(kArduino);
       },
       InDialout(), "ttyACM0", EBUSY,
       "/dev/ttyACM0 is held exclusively by a program /proc does not show (another user's or root's); sudo fuser -v "
       "/dev/ttyACM0 names it. ModemManager probes /dev/ttyACM0 as a possible modem and garbles the first bytes. Tell "
       "it to leave the adapter 2341:0043 alone: put the line ATTRS{idVendor}==\"2341\", ATTRS{idProduct}==\"0043\", "
       "ENV{ID_MM_DEVICE_IGNORE}=\"1\" into /etc/udev/rules.d/99-scaledb-no-modem.rules, run sudo udevadm control "
       "--reload and plug the adapter in again."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Cause);
    TFakeSystem system;
    system.AddUsb(kFtdi, kFtdiById);
    c.Arrange(system);
    const TPortSurvey survey = SurveyPorts(system.Roots(), c.User);
    const std::string path = system.Path("dev") + "/" + c.Device;
    EXPECT_EQ(c.Error == 0 ? Findings(survey, path) : OpenFailureDiagnosis(survey, path, c.Error), c.Expected);
  }
}

TEST(PortSurvey, TheListShowsEachDeviceWithItsNamesDriverAdapterRightsAndHolder) {
  TFakeSystem system;
  system.AddUsb(kFtdi, kFtdiById);
  system.AddUsb(kArduino);
  system.AddUsb(kCh340);
  system.AddStableName("by-path", kCh340ByPath, kCh340.Tty);
  system.AddUart("ttyS0", "4");
  system.AddUart("ttyS1", "0");
  system.AddComLink("COM7", system.Path("dev/serial/by-id") + "/" + kFtdiById);
  system.AddProcess(812, "minicom", "ttyUSB1");
  const std::vector<TPortTableRow> rows = PortTable(SurveyPorts(system.Roots(), NotInDialout()));
  std::vector<std::vector<std::string>> cells;
  for (const TPortTableRow& row : rows) cells.push_back(row.Cells);
  const std::string notInGroup = "no: not in group dialout";
  EXPECT_EQ(cells, (std::vector<std::vector<std::string>>{
                       {"/dev/ttyACM0", "COM65", "cdc_acm", "2341:0043 Arduino (www.arduino.cc) Uno", notInGroup, "-", "-"},
                       {"/dev/ttyS0", "COM1", "serial8250", "-", notInGroup, "-", "-"},
                       {"/dev/ttyUSB1", "COM7, COM34", "ftdi_sio", "0403:6001 FTDI FT232R", notInGroup, "812 minicom",
                        std::string("/dev/serial/by-id/") + kFtdiById},
                       {"/dev/ttyUSB2", "COM35", "ch341", "1a86:7523 QinHeng Electronics USB Serial", notInGroup, "-",
                        std::string("/dev/serial/by-path/") + kCh340ByPath},
                   }))
      << "ttyS1 has no UART";
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[2].Notes.size(), 2u) << "the rights and the holder";
}
