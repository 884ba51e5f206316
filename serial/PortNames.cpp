#include "PortNames.h"

#include "Global.h"
#include "SerialPort.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>

namespace {
const char kSysfsTty[] = "/sys/class/tty/";
constexpr int kFamilySize = 32;

struct TDeviceFamily {
  const char* Prefix;  // under /dev and /sys/class/tty
  int FirstPort;
};
const TDeviceFamily kFamilies[] = {{"ttyS", 1}, {"ttyUSB", 33}, {"ttyACM", 65}};

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

bool Exists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

bool LinkExists(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

// The COM name of a sysfs tty entry such as "ttyUSB2", or empty when it is none of the families.
std::string PortNameOfTty(const std::string& tty) {
  for (const TDeviceFamily& family : kFamilies) {
    const std::string prefix = family.Prefix;
    if (tty.compare(0, prefix.size(), prefix) != 0) continue;
    const int index = ParseIndex(tty.substr(prefix.size()));
    if (index >= 0 && index < kFamilySize) return "COM" + std::to_string(family.FirstPort + index);
  }
  return {};
}

// 8250 ports without a UART behind them report type 0.
bool IsUnknownUart(const std::string& ttyDirectory) {
  std::ifstream file(ttyDirectory + "/type");
  std::string type;
  return file >> type && type == "0";
}

// Calls `visit` with each entry name of `directory`; raises code 23 when it cannot be read.
template <typename Visit>
void ForEachEntry(const std::string& directory, bool missingIsEmpty, Visit visit) {
  DIR* dir = opendir(directory.c_str());
  if (!dir) {
    if (missingIsEmpty && errno == ENOENT) return;
    throw EComPort(23, errno);
  }
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(dir);
    if (!entry) break;
    const std::string name = entry->d_name;
    if (name != "." && name != "..") visit(name);
  }
  const int error = errno;
  closedir(dir);
  if (error) throw EComPort(23, error);
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
    if (LinkExists(link)) return link;
  for (const TDeviceFamily& family : kFamilies) {
    const int index = number - family.FirstPort;
    if (index >= 0 && index < kFamilySize) return std::string("/dev/") + family.Prefix + std::to_string(index);
  }
  return {};
}

std::string NamedOrPathDevice(const std::string& name) {
  return name.starts_with('/') ? name : PortDevicePath(name);
}

void CollectSerialPorts(const std::string& sysfsTty, const std::string& portsDirectory,
                        std::vector<std::string>& names) {
  const std::string sysfs = sysfsTty.back() == '/' ? sysfsTty : sysfsTty + '/';
  ForEachEntry(sysfs, false, [&](const std::string& tty) {
    const std::string name = PortNameOfTty(tty);
    if (name.empty() || !Exists(sysfs + tty + "/device")) return;
    if (tty.compare(0, 4, "ttyS") == 0 && tty.compare(0, 6, "ttyUSB") != 0 && IsUnknownUart(sysfs + tty)) return;
    names.push_back(name);
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
