#include "PortNames.h"

#include "Global.h"
#include "PortSystem.h"
#include "SerialPort.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace {
const char kSysfsTty[] = "/sys/class/tty/";
constexpr int kFamilySize = 32;

struct TDeviceFamily {
  const char* Prefix;  // under /dev and /sys/class/tty
  int FirstPort;       // the COM number of index 0; 0 for a family without COM names
};
const TDeviceFamily kFamilies[] = {{"ttyS", 1}, {"ttyUSB", 33}, {"ttyACM", 65}, {"ttyAMA", 0}};

std::string Upper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

// Digits without a leading zero (except "0" itself), at most four of them; -1 otherwise.
int ParseIndex(const std::string& digits) {
  if (digits.empty() || digits.size() > 4 || (digits[0] == '0' && digits.size() > 1)) return -1;
  int value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return value;
}

// The family of a tty name such as "ttyUSB2" with its index; none for other names.
const TDeviceFamily* FamilyOf(const std::string& tty, int& index) {
  for (const TDeviceFamily& family : kFamilies) {
    const std::string prefix = family.Prefix;
    if (tty.compare(0, prefix.size(), prefix) != 0) continue;
    index = ParseIndex(tty.substr(prefix.size()));
    if (index >= 0) return &family;
  }
  return nullptr;
}

std::string WithSlash(const std::string& directory) {
  return directory.empty() || directory.back() == '/' ? directory : directory + '/';
}

// 8250 ports without a UART behind them report type 0.
bool IsUnknownUart(const std::string& ttyEntry) {
  const std::string type = SmallFileText(ttyEntry + "/type", 16);
  return type.substr(0, type.find_first_of(" \t\r\n")) == "0";
}

// Calls `visit` with each entry name of `directory`; raises code 23 when it cannot be read.
template <typename Visit>
void ForEachEntry(const std::string& directory, bool missingIsEmpty, Visit visit) {
  std::vector<std::string> entries;
  const int error = ReadDirectory(directory, entries);
  if (error && !(missingIsEmpty && error == ENOENT)) throw EComPort(23, error);
  for (const std::string& entry : entries) visit(entry);
}
}  // namespace

std::string PortsDirectory() {
  const char* configured = std::getenv("SCALEDB_PORTS_DIR");
  std::string directory = configured && *configured ? configured : ExecutableDirectory() + "ports";
  if (directory.back() != '/') directory += '/';
  return directory;
}

int PortNumber(const std::string& name) {
  if (name.size() < 4 || Upper(name.substr(0, 3)) != "COM") return 0;
  const int number = ParseIndex(name.substr(3));
  return number > 0 ? number : 0;
}

std::string PortDevicePath(const std::string& name) {
  const int number = PortNumber(name);
  if (number == 0) return {};
  const std::string directory = PortsDirectory();
  for (const std::string& link : {directory + name, directory + "COM" + std::to_string(number)})
    if (EntryExists(link)) return link;
  for (const TDeviceFamily& family : kFamilies) {
    const int index = number - family.FirstPort;
    if (family.FirstPort > 0 && index >= 0 && index < kFamilySize)
      return std::string("/dev/") + family.Prefix + std::to_string(index);
  }
  return {};
}

std::string NamedOrPathDevice(const std::string& name) {
  return name.starts_with('/') ? name : PortDevicePath(name);
}

std::string ComNameOfTty(const std::string& tty) {
  int index = 0;
  const TDeviceFamily* family = FamilyOf(tty, index);
  if (!family || family->FirstPort == 0 || index >= kFamilySize) return {};
  return "COM" + std::to_string(family->FirstPort + index);
}

bool IsSerialTty(const std::string& sysfsTty, const std::string& tty) {
  int index = 0;
  const TDeviceFamily* family = FamilyOf(tty, index);
  const std::string entry = WithSlash(sysfsTty) + tty;
  if (!family || ResolvedPath(entry + "/device").empty()) return false;
  return std::string(family->Prefix) != "ttyS" || !IsUnknownUart(entry);
}

void CollectSerialPorts(const std::string& sysfsTty, const std::string& portsDirectory,
                        std::vector<std::string>& names) {
  ForEachEntry(sysfsTty, false, [&](const std::string& tty) {
    const std::string name = ComNameOfTty(tty);
    if (!name.empty() && IsSerialTty(sysfsTty, tty)) names.push_back(name);
  });
  ForEachEntry(portsDirectory, true, [&](const std::string& entry) {
    if (PortNumber(entry) > 0) names.push_back(entry);
  });
}

void SortPortNames(std::vector<std::string>& names) {
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    const std::string upperA = Upper(a), upperB = Upper(b);
    return upperA != upperB ? upperA < upperB : a < b;
  });
  names.erase(std::unique(names.begin(), names.end(),
                          [](const std::string& a, const std::string& b) { return Upper(a) == Upper(b); }),
              names.end());
}

void ListSerialPorts(std::vector<std::string>& list) {
  list.clear();
  CollectSerialPorts(kSysfsTty, PortsDirectory(), list);
  SortPortNames(list);
}
