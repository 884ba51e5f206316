#include "PortSurvey.h"

#include "PortNames.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>

namespace {
constexpr size_t kGroupFileLimit = 1 << 20;
constexpr int kUsbLevelsAbove = 4;  // from a tty's device up to its USB device
const char kModemInterfaceClass[] = "02";

// The USB-serial chips brltty takes for braille displays: FTDI FT232, Silicon Labs CP210x, QinHeng CH340.
const char* const kBrlttyChips[] = {"0403:6001", "10c4:ea60", "1a86:7523"};

std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

std::string FileLine(const std::string& path) { return Trimmed(SmallFileText(path, 512)); }

std::string BaseName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Parent(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos || slash == 0 ? std::string() : path.substr(0, slash);
}

bool IsInside(const std::string& path, const std::string& directory) {
  return !directory.empty() && path.size() > directory.size() + 1 && path.compare(0, directory.size(), directory) == 0 &&
         path[directory.size()] == '/';
}

bool AllDigits(const std::string& text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string Joined(const std::vector<std::string>& parts, const std::string& between, const std::string& last) {
  std::string text;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) text += i + 1 == parts.size() ? last : between;
    text += parts[i];
  }
  return text;
}

std::string ModeText(unsigned mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", mode & 07777);
  return text;
}

// The /dev root as given and with its links resolved.
bool UnderDev(const TPortSurvey& survey, const std::string& path, size_t& rootLength) {
  for (const std::string& root : {survey.Roots.Dev, ResolvedPath(survey.Roots.Dev)}) {
    if (!IsInside(path, root)) continue;
    rootLength = root.size();
    return true;
  }
  return false;
}

// "/dev/..." for what lies under the /dev root, so a fake tree reads like the system.
std::string Shown(const TPortSurvey& survey, const std::string& path) {
  size_t rootLength = 0;
  return UnderDev(survey, path, rootLength) ? "/dev" + path.substr(rootLength) : path;
}

bool BrlttyClaims(const TUsbAdapter& adapter) {
  const std::string id = adapter.VendorId + ":" + adapter.ProductId;
  return std::any_of(std::begin(kBrlttyChips), std::end(kBrlttyChips), [&](const char* chip) { return id == chip; });
}

std::optional<TUsbAdapter> ReadAdapter(const std::string& directory) {
  if (directory.empty()) return std::nullopt;
  const std::string vendor = FileLine(directory + "/idVendor");
  if (vendor.empty()) return std::nullopt;
  return TUsbAdapter{vendor,
                     FileLine(directory + "/idProduct"),
                     FileLine(directory + "/manufacturer"),
                     FileLine(directory + "/product"),
                     FileLine(directory + "/serial"),
                     directory};
}

// The USB device above a tty's device directory, if there is one.
std::optional<TUsbAdapter> UsbAbove(const std::string& deviceDirectory, const std::string& sysRoot) {
  std::string directory = deviceDirectory;
  for (int level = 0; level <= kUsbLevelsAbove && IsInside(directory, sysRoot); ++level) {
    if (std::optional<TUsbAdapter> adapter = ReadAdapter(directory)) return adapter;
    directory = Parent(directory);
  }
  return std::nullopt;
}

// The driver of a tty's device. Since Linux 6.5 a ttyS's device is a "port" of the serial-base bus
// below a "ctrl" one; the driver that tells the hardware is the first one above them.
std::string DriverOf(const std::string& deviceDirectory, const std::string& sysRoot) {
  for (std::string directory = deviceDirectory; IsInside(directory, sysRoot); directory = Parent(directory)) {
    const std::string driver = LinkTarget(directory + "/driver");
    if (driver.find("/serial-base/") == std::string::npos) return BaseName(driver);
  }
  return {};
}

void ReadGroupFile(TPortSurvey& survey) {
  const std::string text = SmallFileText(survey.Roots.GroupFile, kGroupFileLimit);
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    std::vector<std::string> fields;
    for (size_t from = 0;;) {
      const size_t colon = line.find(':', from);
      fields.push_back(line.substr(from, colon - from));
      if (colon == std::string::npos) break;
      from = colon + 1;
    }
    if (fields.size() < 4 || !AllDigits(fields[2]) || fields[2].size() > 9) continue;
    const unsigned gid = static_cast<unsigned>(std::stoul(fields[2]));
    survey.GroupNames.emplace(gid, fields[0]);
    std::vector<std::string>& members = survey.GroupMembers[gid];
    for (size_t from = 0; from < fields[3].size();) {
      size_t comma = fields[3].find(',', from);
      if (comma == std::string::npos) comma = fields[3].size();
      if (comma > from) members.push_back(fields[3].substr(from, comma - from));
      from = comma + 1;
    }
  }
}

// Every process /proc lets us see: its name, and the files under the /dev root it holds open. This
// process holds its own ports; it is no holder that stands in the way.
void ReadProcesses(TPortSurvey& survey) {
  const std::string devRoots[] = {WithoutTrailingSlash(survey.Roots.Dev), ResolvedPath(survey.Roots.Dev)};
  const std::string self = LinkTarget(survey.Roots.Proc + "/self");
  for (const std::string& pid : DirectoryEntries(survey.Roots.Proc)) {
    if (!AllDigits(pid) || pid.size() > 9 || pid == self) continue;
    const std::string base = survey.Roots.Proc + "/" + pid;
    const std::string program = FileLine(base + "/comm");
    survey.BrlttyRunning = survey.BrlttyRunning || program == "brltty";
    survey.ModemManagerRunning = survey.ModemManagerRunning || program == "ModemManager";
    std::set<std::string> held;
    for (const std::string& fd : DirectoryEntries(base + "/fd")) {
      const std::string target = LinkTarget(base + "/fd/" + fd);
      if (IsInside(target, devRoots[0]) || IsInside(target, devRoots[1])) held.insert(target);
    }
    for (const std::string& target : held) survey.Holders[target].push_back({std::stoi(pid), program});
  }
}

bool InGroupNow(const TUserIdentity& user, unsigned gid) {
  return std::find(user.Groups.begin(), user.Groups.end(), gid) != user.Groups.end();
}

bool ListedInGroup(const TPortSurvey& survey, unsigned gid) {
  const auto members = survey.GroupMembers.find(gid);
  if (members == survey.GroupMembers.end() || survey.User.Name.empty()) return false;
  return std::find(members->second.begin(), members->second.end(), survey.User.Name) != members->second.end();
}

void FillAccess(const TPortSurvey& survey, TSerialDeviceInfo& device) {
  const TFileOwnership owner = OwnershipOf(device.Path);
  if (!owner.Exists) {
    device.Access = TPortAccess::NoDeviceFile;
    return;
  }
  const auto name = survey.GroupNames.find(owner.Gid);
  device.Group = name != survey.GroupNames.end() ? name->second : std::to_string(owner.Gid);
  device.Mode = owner.Mode;
  const TUserIdentity& user = survey.User;
  const bool groupMayOpen = (owner.Mode & 060) == 060;
  bool allowed = false;
  if (user.Uid == 0)
    allowed = true;
  else if (owner.Uid == user.Uid)
    allowed = (owner.Mode & 0600) == 0600;
  else if (InGroupNow(user, owner.Gid))
    allowed = groupMayOpen;
  else
    allowed = (owner.Mode & 06) == 06;
  if (allowed)
    device.Access = TPortAccess::Allowed;
  else if (!groupMayOpen || InGroupNow(user, owner.Gid) || owner.Uid == user.Uid)
    device.Access = TPortAccess::Denied;
  else
    device.Access = ListedInGroup(survey, owner.Gid) ? TPortAccess::GroupAfterLogIn : TPortAccess::NotInGroup;
}

// The "COM<n>" links of the ports directory, by the path each leads to.
std::map<std::string, std::vector<std::string>> ComLinks(const TPortRoots& roots) {
  std::map<std::string, std::vector<std::string>> links;
  if (roots.Ports.empty()) return links;
  for (const std::string& entry : DirectoryEntries(roots.Ports)) {
    if (PortNumber(entry) == 0) continue;
    const std::string target = ResolvedPath(roots.Ports + "/" + entry);
    if (!target.empty()) links[target].push_back(entry);
  }
  for (auto& [target, names] : links) std::sort(names.begin(), names.end());
  return links;
}

bool PortsDirectoryHas(const TPortRoots& roots, const std::string& name) {
  if (roots.Ports.empty()) return false;
  const std::vector<std::string> entries = DirectoryEntries(roots.Ports);
  return std::any_of(entries.begin(), entries.end(),
                     [&](const std::string& entry) { return PortNumber(entry) == PortNumber(name) && PortNumber(name) > 0; });
}

// The by-id names first: they name the adapter, by-path names only the socket it is in.
std::map<std::string, std::string> StableNames(const TPortSurvey& survey) {
  std::map<std::string, std::string> names;
  for (const char* kind : {"/serial/by-id", "/serial/by-path"}) {
    const std::string directory = WithoutTrailingSlash(survey.Roots.Dev) + kind;
    std::vector<std::string> entries = DirectoryEntries(directory);
    std::sort(entries.begin(), entries.end());
    for (const std::string& entry : entries) {
      const std::string target = ResolvedPath(directory + "/" + entry);
      if (!target.empty()) names.emplace(target, Shown(survey, directory + "/" + entry));
    }
  }
  return names;
}

// Devices in the order of their family, then of their number.
bool ShownBefore(const TSerialDeviceInfo& a, const TSerialDeviceInfo& b) {
  const auto key = [](const std::string& device) {
    const size_t digits = device.find_last_not_of("0123456789") + 1;
    const std::string number = device.substr(digits);
    return std::make_pair(device.substr(0, digits), number.empty() || number.size() > 9 ? -1 : std::stoi(number));
  };
  return key(a.Device) < key(b.Device);
}

std::string StrError(int error) { return std::strerror(error); }

std::string Fallback(const std::string& text) { return text.empty() ? "-" : text; }

std::string UsbCell(const TUsbAdapter& adapter) {
  return Trimmed(adapter.VendorId + ":" + adapter.ProductId + " " + adapter.Manufacturer + " " + adapter.Product);
}

}  // namespace

std::string PortAccessText(const TSerialDeviceInfo& device) {
  switch (device.Access) {
    case TPortAccess::Allowed: return "yes";
    case TPortAccess::NoDeviceFile: return "no: no device file";
    case TPortAccess::NotInGroup: return "no: not in group " + device.Group;
    case TPortAccess::GroupAfterLogIn: return "no: in group " + device.Group + " after the next log-in";
    case TPortAccess::Denied: return "no: group " + device.Group + ", mode " + ModeText(device.Mode);
  }
  return {};
}

namespace {

std::string HoldersText(const std::vector<TPortHolder>& holders, const std::string& between, const std::string& last) {
  std::vector<std::string> parts;
  for (const TPortHolder& holder : holders) parts.push_back("pid " + std::to_string(holder.Pid) + " (" + holder.Program + ")");
  return Joined(parts, between, last);
}

std::string PermissionText(const TSerialDeviceInfo& device) {
  const std::string intro = "You may not open " + device.Device;
  switch (device.Access) {
    case TPortAccess::NotInGroup:
      return intro + " (group " + device.Group + "). Add yourself: sudo usermod -aG " + device.Group +
             " $USER, then log out and in again.";
    case TPortAccess::GroupAfterLogIn:
      return intro + " (group " + device.Group +
             "). You are in the group, but this session began before you were added: log out and in again.";
    case TPortAccess::Denied: return intro + " (group " + device.Group + ", mode " + ModeText(device.Mode) + ").";
    default: return {};
  }
}

const char kBrlttyService[] = "brltty (the braille display service)";
const char kBrlttyFix[] =
    "Without a braille display remove it: sudo apt remove brltty; else stop it taking adapters: sudo systemctl mask "
    "brltty-udev.service brltty.service. Then unplug the adapter and plug it in again.";

std::string BrlttyTookText(const TUsbAdapter& adapter) {
  return std::string(kBrlttyService) + " took the adapter " + AdapterDescription(adapter) + " for a braille display. " +
         kBrlttyFix;
}

std::string BrlttyMayTakeText(const TSerialDeviceInfo& device) {
  return std::string(kBrlttyService) + " is running and takes adapters with this chip (" + device.Usb->VendorId + ":" +
         device.Usb->ProductId + ") for a braille display: " + device.Device + " may vanish. " + kBrlttyFix;
}

std::string ModemManagerText(const TSerialDeviceInfo& device) {
  const std::string match = device.Usb ? "ATTRS{idVendor}==\"" + device.Usb->VendorId + "\", ATTRS{idProduct}==\"" +
                                             device.Usb->ProductId + "\""
                                       : "KERNEL==\"" + BaseName(device.Device) + "\"";
  const std::string adapter = device.Usb ? "the adapter " + device.Usb->VendorId + ":" + device.Usb->ProductId : device.Device;
  return "ModemManager probes " + device.Device + " as a possible modem and garbles the first bytes. Tell it to leave " +
         adapter + " alone: put the line " + match +
         ", ENV{ID_MM_DEVICE_IGNORE}=\"1\" into /etc/udev/rules.d/99-scaledb-no-modem.rules, run sudo udevadm control "
         "--reload and plug the adapter in again.";
}

bool ModemManagerProbes(const TPortSurvey& survey, const TSerialDeviceInfo& device) {
  return survey.ModemManagerRunning && device.ModemClass;
}

bool BrlttyMayTake(const TPortSurvey& survey, const TSerialDeviceInfo& device) {
  return survey.BrlttyRunning && device.Usb && BrlttyClaims(*device.Usb);
}

const char* const kUsbTtyFamilies[] = {"ttyUSB", "ttyACM"};

bool IsByIdName(const std::string& path) { return path.find("/serial/by-id/") != std::string::npos; }

// Whether a missing name stands for a USB adapter, whose absence other adapters may explain.
bool NamesUsbAdapter(const std::string& subject) {
  const std::string name = BaseName(subject);
  const auto inFamily = [&](const char* family) { return name.starts_with(family); };
  return std::any_of(std::begin(kUsbTtyFamilies), std::end(kUsbTtyFamilies), inFamily) ||
         subject.find("/serial/by-") != std::string::npos;
}

// A USB string as udev puts it into by-id names: a run of blanks as one '_', and '_' for a
// character a name may not hold.
std::string UdevEncoded(const std::string& text) {
  std::string encoded;
  bool blank = false;
  for (const char c : Trimmed(text)) {
    if (c == ' ' || c == '\t') {
      blank = true;
      continue;
    }
    if (blank) encoded += '_';
    blank = false;
    const bool kept = static_cast<unsigned char>(c) >= 0x80 || std::isalnum(static_cast<unsigned char>(c)) ||
                      (c != '\0' && std::strchr("#+-.:=@_", c));
    encoded += kept ? c : '_';
  }
  return encoded;
}

// Whether a by-id name ("usb-<maker>_<product>_<serial>-if00-port0") is the adapter's: its maker
// and serial number, or without a serial number its maker and product.
bool ByIdNamesAdapter(const std::string& name, const TUsbAdapter& adapter) {
  const std::string maker = "usb-" + UdevEncoded(adapter.Manufacturer.empty() ? adapter.VendorId : adapter.Manufacturer) + "_";
  if (!name.starts_with(maker)) return false;
  if (!adapter.Serial.empty()) return name.find("_" + UdevEncoded(adapter.Serial) + "-if") != std::string::npos;
  return name.starts_with(maker + UdevEncoded(adapter.Product.empty() ? adapter.ProductId : adapter.Product) + "-if");
}

// Whether the adapter present can be what the missing name stood for: the adapter its by-id name
// names, or a device of its ttyUSB or ttyACM family.
bool CanBeNow(const std::string& missing, const TSerialDeviceInfo& present) {
  if (IsByIdName(missing)) return ByIdNamesAdapter(BaseName(missing), *present.Usb);
  for (const char* family : kUsbTtyFamilies)
    if (BaseName(missing).starts_with(family)) return BaseName(present.Device).starts_with(family);
  return false;
}

std::string NowText(const std::string& missing, const TSerialDeviceInfo& adapter) {
  const std::string now = missing + "; the adapter " + AdapterDescription(*adapter.Usb) + " is now " + adapter.Device + ".";
  if (adapter.StableName.find("/by-id/") != std::string::npos) return now + " Name it by " + adapter.StableName + ", which stays.";
  if (!adapter.StableName.empty())
    return now + " Name it by " + adapter.StableName + ", which stays while it is plugged into the same socket.";
  return now;
}

std::string GoneText(const TPortSurvey& survey, const std::string& subject) {
  const std::string missing = subject + " does not exist";
  if (!NamesUsbAdapter(subject)) return missing + ".";
  if (survey.BrlttyRunning && !survey.AdaptersWithoutDevice.empty())
    return missing + ": " + BrlttyTookText(survey.AdaptersWithoutDevice.front());
  std::vector<const TSerialDeviceInfo*> adapters;
  for (const TSerialDeviceInfo& device : survey.Devices)
    if (device.Usb) adapters.push_back(&device);
  if (adapters.empty()) return missing + ", and no USB-serial adapter is plugged in.";
  if (adapters.size() == 1 && CanBeNow(subject, *adapters.front())) return NowText(missing, *adapters.front());
  std::vector<std::string> present;
  for (const TSerialDeviceInfo* adapter : adapters) present.push_back(AdapterDescription(*adapter->Usb) + " as " + adapter->Device);
  const std::string plugged =
      missing + "; plugged in " + (present.size() == 1 ? "is " : "are ") + Joined(present, ", ", " and ") + ".";
  // A by-id name is the advice already.
  return IsByIdName(subject) ? plugged : plugged + " Name the adapter by its /dev/serial/by-id/ name, which stays.";
}

std::string HeldText(const TPortSurvey& survey, const TSerialDeviceInfo& device) {
  std::string text = device.Holders.empty()
                         ? device.Device + " is held exclusively by a program /proc does not show (another user's or "
                                           "root's); sudo fuser -v " + device.Device + " names it."
                         : device.Device + " is held by " + HoldersText(device.Holders, ", ", " and ") + ".";
  if (ModemManagerProbes(survey, device)) text += " " + ModemManagerText(device);
  return text;
}

std::string OtherFailureText(const TPortSurvey& survey, const TSerialDeviceInfo& device, int error) {
  std::string text;
  if (error == ENOTTY)
    text = device.Device + " is not a serial device.";
  else if (error == EIO || error == ENXIO || error == ENODEV)
    text = device.Device + " is there, but no device answers behind it (" + StrError(error) + ").";
  else
    text = device.Device + ": " + StrError(error) + ".";
  if (BrlttyMayTake(survey, device)) text += " " + BrlttyMayTakeText(device);
  if (ModemManagerProbes(survey, device)) text += " " + ModemManagerText(device);
  return text;
}

// What a missing path was configured as: the target of a ports directory link, else the path.
std::string Subject(const TPortSurvey& survey, const std::string& path) {
  if (IsInside(path, survey.Roots.Ports)) {
    const std::string target = LinkTarget(path);
    if (!target.empty()) return Shown(survey, target);
  }
  return Shown(survey, path);
}

TSerialDeviceInfo Describe(const TPortSurvey& survey, const std::string& path, const std::map<std::string, std::string>& stable,
                           const std::map<std::string, std::vector<std::string>>& links) {
  TSerialDeviceInfo device;
  const std::string resolved = ResolvedPath(path);
  device.Path = resolved.empty() ? path : resolved;
  device.Device = Shown(survey, device.Path);
  const std::string tty = BaseName(device.Path);
  const std::string classEntry = survey.Roots.Sys + "/class/tty/" + tty;
  const std::string deviceDirectory = ResolvedPath(classEntry + "/device");
  if (!deviceDirectory.empty()) {
    const std::string sysRoot = ResolvedPath(survey.Roots.Sys);
    device.Driver = DriverOf(deviceDirectory, sysRoot);
    device.Usb = UsbAbove(deviceDirectory, sysRoot);
    device.ModemClass = tty.starts_with("ttyACM") && FileLine(deviceDirectory + "/bInterfaceClass") == kModemInterfaceClass;
  } else if (device.Device.starts_with("/dev/pts/")) {
    device.Driver = "pty";
  }
  if (const auto name = stable.find(device.Path); name != stable.end()) device.StableName = name->second;
  if (const auto names = links.find(device.Path); names != links.end()) device.ComNames = names->second;
  const std::string name = ComNameOfTty(tty);
  size_t rootLength = 0;
  if (!name.empty() && UnderDev(survey, device.Path, rootLength) && !PortsDirectoryHas(survey.Roots, name))
    device.ComNames.push_back(name);
  FillAccess(survey, device);
  if (const auto holders = survey.Holders.find(device.Path); holders != survey.Holders.end()) device.Holders = holders->second;
  return device;
}

// The ttys sysfs lists that are serial devices, by the rule the setup dialog's list follows.
std::vector<std::string> SysfsSerialTtys(const TPortRoots& roots) {
  std::vector<std::string> ttys;
  const std::string classTty = roots.Sys + "/class/tty";
  for (const std::string& tty : DirectoryEntries(classTty))
    if (IsSerialTty(classTty, tty)) ttys.push_back(tty);
  return ttys;
}

void FindAdaptersWithoutDevice(TPortSurvey& survey) {
  const std::string directory = survey.Roots.Sys + "/bus/usb/devices/";
  for (const std::string& entry : DirectoryEntries(directory)) {
    const std::optional<TUsbAdapter> adapter = ReadAdapter(ResolvedPath(directory + entry));
    if (!adapter || !BrlttyClaims(*adapter)) continue;
    const bool hasDevice = std::any_of(survey.Devices.begin(), survey.Devices.end(), [&](const TSerialDeviceInfo& device) {
      return device.Usb && device.Usb->SysPath == adapter->SysPath;
    });
    if (!hasDevice) survey.AdaptersWithoutDevice.push_back(*adapter);
  }
}

TPortRoots Normalized(TPortRoots roots) {
  for (std::string* root : {&roots.Sys, &roots.Dev, &roots.Proc, &roots.Ports}) *root = WithoutTrailingSlash(*root);
  return roots;
}
}  // namespace

TPortRoots SystemPortRoots() {
  TPortRoots roots;
  roots.Ports = PortsDirectory();
  return roots;
}

std::string AdapterDescription(const TUsbAdapter& adapter) {
  std::string name = adapter.Manufacturer;
  if (!adapter.Product.empty()) name += (name.empty() ? "" : " ") + adapter.Product;
  if (name.empty()) name = adapter.VendorId + ":" + adapter.ProductId;
  return adapter.Serial.empty() ? name : name + " (" + adapter.Serial + ")";
}

TPortSurvey SurveyPorts(const TPortRoots& roots, const TUserIdentity& user) {
  TPortSurvey survey;
  survey.Roots = Normalized(roots);
  survey.User = user;
  ReadGroupFile(survey);
  ReadProcesses(survey);
  const std::map<std::string, std::string> stable = StableNames(survey);
  const std::map<std::string, std::vector<std::string>> links = ComLinks(survey.Roots);
  std::set<std::string> listed;
  for (const std::string& tty : SysfsSerialTtys(survey.Roots)) {
    survey.Devices.push_back(Describe(survey, survey.Roots.Dev + "/" + tty, stable, links));
    listed.insert(survey.Devices.back().Path);
  }
  for (const auto& [target, names] : links)
    if (listed.insert(target).second) survey.Devices.push_back(Describe(survey, target, stable, links));
  std::sort(survey.Devices.begin(), survey.Devices.end(), ShownBefore);
  FindAdaptersWithoutDevice(survey);
  return survey;
}

std::string StableDeviceName(const std::string& path, const std::string& devRoot) {
  const std::string device = ResolvedPath(path);
  if (device.empty()) return path;
  const std::string directory = WithoutTrailingSlash(devRoot) + "/serial/by-id";
  std::vector<std::string> entries = DirectoryEntries(directory);
  std::sort(entries.begin(), entries.end());
  for (const std::string& entry : entries)
    if (ResolvedPath(directory + "/" + entry) == device) return directory + "/" + entry;
  return device;
}

TSerialDeviceInfo DescribeDevice(const TPortSurvey& survey, const std::string& path) {
  const std::string resolved = ResolvedPath(path);
  for (const TSerialDeviceInfo& device : survey.Devices)
    if (!resolved.empty() && device.Path == resolved) return device;
  return Describe(survey, path, StableNames(survey), ComLinks(survey.Roots));
}

std::vector<std::string> DeviceFindings(const TPortSurvey& survey, const TSerialDeviceInfo& device) {
  std::vector<std::string> findings;
  if (const std::string permission = PermissionText(device); !permission.empty()) findings.push_back(permission);
  if (!device.Holders.empty()) findings.push_back(device.Device + " is held by " + HoldersText(device.Holders, ", ", " and ") + ".");
  if (BrlttyMayTake(survey, device)) findings.push_back(BrlttyMayTakeText(device));
  if (ModemManagerProbes(survey, device)) findings.push_back(ModemManagerText(device));
  return findings;
}

std::string OpenFailureDiagnosis(const TPortSurvey& survey, const std::string& path, int error) {
  if (error == ENOENT) return GoneText(survey, Subject(survey, path));
  const TSerialDeviceInfo device = DescribeDevice(survey, path);
  if (error == EACCES || error == EPERM) {
    const std::string permission = PermissionText(device);
    return permission.empty() ? "You may not open " + device.Device + " (" + StrError(error) + ")." : permission;
  }
  if (error == EBUSY || error == EAGAIN) return HeldText(survey, device);
  return OtherFailureText(survey, device, error);
}

std::string DiagnoseOpenFailure(const std::string& path, int error) {
  return OpenFailureDiagnosis(SurveyPorts(SystemPortRoots(), CurrentUser()), path, error);
}

std::vector<std::string> PortTableHeader() { return {"Device", "COM", "Driver", "USB", "Access", "Held by", "Stable name"}; }

std::vector<TPortTableRow> PortTable(const TPortSurvey& survey) {
  std::vector<TPortTableRow> rows;
  for (const TSerialDeviceInfo& device : survey.Devices) {
    const std::string usb = device.Usb ? UsbCell(*device.Usb) : std::string();
    std::vector<std::string> holders;
    for (const TPortHolder& holder : device.Holders) holders.push_back(std::to_string(holder.Pid) + " " + holder.Program);
    rows.push_back({{device.Device, Fallback(Joined(device.ComNames, ", ", ", ")), Fallback(device.Driver), Fallback(usb),
                     PortAccessText(device), Fallback(Joined(holders, ", ", ", ")), Fallback(device.StableName)},
                    DeviceFindings(survey, device)});
  }
  if (survey.BrlttyRunning) {
    for (const TUsbAdapter& adapter : survey.AdaptersWithoutDevice)
      rows.push_back({{"-", "-", "-", UsbCell(adapter), "-", "-", "-"}, {BrlttyTookText(adapter)}});
  }
  return rows;
}
