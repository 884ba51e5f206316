#pragma once
// The serial devices present, what stands between the user and each of them, and why a port did
// not open, in words with the fix. Everything is read from sysfs, /dev, /proc, the group file and
// the ports directory through roots, so a test can point them into a fake tree.

#include "PortSystem.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

struct TPortRoots {
  std::string Sys = "/sys";
  std::string Dev = "/dev";
  std::string Proc = "/proc";
  std::string GroupFile = "/etc/group";
  std::string Ports;  // the ports directory with its "COM<n>" links
};
// The system's own roots with the program's ports directory.
TPortRoots SystemPortRoots();

struct TUsbAdapter {
  std::string VendorId;  // four hex digits, as sysfs gives them
  std::string ProductId;
  std::string Manufacturer;
  std::string Product;
  std::string Serial;
  std::string SysPath;  // its device directory in sysfs
};
// "FTDI FT232R USB UART (A9XYZ)", or the ids when the adapter names nothing.
std::string AdapterDescription(const TUsbAdapter& adapter);

struct TPortHolder {
  int Pid = 0;
  std::string Program;
};

enum class TPortAccess {
  Allowed,
  NoDeviceFile,
  NotInGroup,        // the group may open it; the user is not in that group
  GroupAfterLogIn,   // the group file has the user in it, this session not yet
  Denied,            // neither the owner's nor the group's rights reach the user
};

struct TSerialDeviceInfo {
  std::string Device;      // as it is shown: "/dev/ttyUSB0", "/dev/pts/3"
  std::string Path;        // where it was read, every link resolved
  std::string StableName;  // "/dev/serial/by-id/...", else ".../by-path/...", else empty
  std::vector<std::string> ComNames;
  std::string Driver;
  std::optional<TUsbAdapter> Usb;
  bool ModemClass = false;  // a ttyACM port of a communications (modem) interface
  TPortAccess Access = TPortAccess::Allowed;
  std::string Group;  // the device file's group
  unsigned Mode = 0;
  std::vector<TPortHolder> Holders;
};

struct TPortSurvey {
  TPortRoots Roots;
  TUserIdentity User;
  std::vector<TSerialDeviceInfo> Devices;
  // Adapters of a chip brltty claims that are plugged in without a serial device.
  std::vector<TUsbAdapter> AdaptersWithoutDevice;
  bool BrlttyRunning = false;
  bool ModemManagerRunning = false;
  // The processes /proc shows holding a file under the /dev root, by the file's path.
  std::map<std::string, std::vector<TPortHolder>> Holders;
  // Group names by id, and the user names the group file lists in each.
  std::map<unsigned, std::string> GroupNames;
  std::map<unsigned, std::vector<std::string>> GroupMembers;
};

TPortSurvey SurveyPorts(const TPortRoots& roots, const TUserIdentity& user);
// The listed device a path leads to, or a description of whatever it leads to.
TSerialDeviceInfo DescribeDevice(const TPortSurvey& survey, const std::string& path);
// The /dev/serial/by-id/ name that leads to the device a path leads to; else that device's path
// with every link resolved; else the path as it stands.
std::string StableDeviceName(const std::string& path, const std::string& devRoot = "/dev");
// "yes", or "no: " and why: "no: not in group dialout".
std::string PortAccessText(const TSerialDeviceInfo& device);
// What stands in the way of a device, one sentence with its fix each: rights, holders, brltty,
// ModemManager. None for a healthy port.
std::vector<std::string> DeviceFindings(const TPortSurvey& survey, const TSerialDeviceInfo& device);
// Why opening `path` failed with the errno `error`: the cause and its fix.
std::string OpenFailureDiagnosis(const TPortSurvey& survey, const std::string& path, int error);
// The same over the system as it is now.
std::string DiagnoseOpenFailure(const std::string& path, int error);

// The port list as scaledb-send --ports prints it and the window shows it.
struct TPortTableRow {
  std::vector<std::string> Cells;  // one per column of PortTableHeader
  std::vector<std::string> Notes;  // the findings
};
std::vector<std::string> PortTableHeader();
std::vector<TPortTableRow> PortTable(const TPortSurvey& survey);
