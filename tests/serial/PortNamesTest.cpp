#include "Global.h"
#include "PortNames.h"
#include "PtyLink.h"
#include "SerialPort.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace {
class PortNamesTest : public ::testing::Test {
 protected:
  PortNamesTest() { setenv("SCALEDB_PORTS_DIR", ports.Path().c_str(), 1); }
  ~PortNamesTest() override { unsetenv("SCALEDB_PORTS_DIR"); }

  // A sysfs tty class entry, with a device link when `device` is set and an optional UART type.
  void AddTty(const std::string& name, bool device, const std::string& type = std::string()) const {
    mkdir(sysfs.File(name).c_str(), 0755);
    if (device) mkdir(sysfs.File(name + "/device").c_str(), 0755);
    if (!type.empty()) sysfs.Write(name + "/type", type + "\n");
  }
  void AddLink(const std::string& name, const std::string& target = "/dev/null") const {
    ASSERT_EQ(symlink(target.c_str(), ports.File(name).c_str()), 0);
  }

  TTempDir ports;
  TTempDir sysfs;
};
}  // namespace

TEST_F(PortNamesTest, OnlyComAndANumberWithoutLeadingZerosIsAPortName) {
  EXPECT_EQ(PortNumber("COM1"), 1);
  EXPECT_EQ(PortNumber("com12"), 12);
  EXPECT_EQ(PortNumber("Com255"), 255);
  for (const char* name : {"COM0", "COM01", "COMx", "COM", "", "COM1 ", "LPT1", "COM-1", "COM12345"})
    EXPECT_EQ(PortNumber(name), 0) << name;
}

TEST_F(PortNamesTest, NamesWithoutALinkMapToTheFixedDeviceFamilies) {
  EXPECT_EQ(PortDevicePath("COM1"), "/dev/ttyS0");
  EXPECT_EQ(PortDevicePath("com32"), "/dev/ttyS31");
  EXPECT_EQ(PortDevicePath("COM33"), "/dev/ttyUSB0");
  EXPECT_EQ(PortDevicePath("COM64"), "/dev/ttyUSB31");
  EXPECT_EQ(PortDevicePath("COM65"), "/dev/ttyACM0");
  EXPECT_EQ(PortDevicePath("COM96"), "/dev/ttyACM31");
  EXPECT_EQ(PortDevicePath("COM97"), "");
  EXPECT_EQ(PortDevicePath("COMx"), "");
}

TEST_F(PortNamesTest, ALinkInThePortsDirectoryWinsInAnyLetterCase) {
  AddLink("COM1", "/dev/pts/999");
  EXPECT_EQ(PortDevicePath("COM1"), ports.File("COM1"));
  EXPECT_EQ(PortDevicePath("com1"), ports.File("COM1"));
  AddLink("COM2", "/nonexistent");
  EXPECT_EQ(PortDevicePath("COM2"), ports.File("COM2")) << "a dangling link still names the port";
}

TEST_F(PortNamesTest, ThePortsDirectoryDefaultsToPortsBesideTheExecutable) {
  unsetenv("SCALEDB_PORTS_DIR");
  SetExecutableDirectory(sysfs.Path());
  EXPECT_EQ(PortsDirectory(), sysfs.Path() + "ports/");
  SetExecutableDirectory("");
  setenv("SCALEDB_PORTS_DIR", "/tmp/x", 1);
  EXPECT_EQ(PortsDirectory(), "/tmp/x/");
}

TEST_F(PortNamesTest, SysfsPortsWithADeviceAndAUartAreListedWithTheLinks) {
  AddTty("ttyS0", true, "4");
  AddTty("ttyS1", true, "0");
  AddTty("ttyS2", false, "4");
  AddTty("ttyS40", true, "4");
  AddTty("ttyUSB0", true);
  AddTty("ttyACM1", true);
  AddTty("tty0", true);
  AddTty("ttyS01", true, "4");
  AddLink("COM10");
  AddLink("COM2");
  AddLink("notes");
  std::vector<std::string> names;
  CollectSerialPorts(sysfs.Path(), ports.Path(), names);
  SortPortNames(names);
  EXPECT_EQ(names, (std::vector<std::string>{"COM1", "COM10", "COM2", "COM33", "COM66"}));
}

TEST_F(PortNamesTest, SortingIgnoresCaseAndDropsDuplicates) {
  std::vector<std::string> names = {"COM2", "com10", "COM1", "Com2", "COM10"};
  SortPortNames(names);
  EXPECT_EQ(names, (std::vector<std::string>{"COM1", "COM10", "COM2"}));
}

TEST_F(PortNamesTest, TheSystemListHoldsThePortsDirectoryLinks) {
  TPtyLink two(ports.Path(), "COM2");
  TPtyLink ten(ports.Path(), "COM10");
  std::vector<std::string> names = {"stale"};
  ListSerialPorts(names);
  const auto at = [&](const std::string& name) { return std::find(names.begin(), names.end(), name); };
  ASSERT_NE(at("COM2"), names.end());
  ASSERT_NE(at("COM10"), names.end());
  EXPECT_LT(at("COM10"), at("COM2"));
  EXPECT_EQ(at("stale"), names.end());
  EXPECT_TRUE(std::is_sorted(names.begin(), names.end(), [](std::string a, std::string b) {
    for (auto* s : {&a, &b})
      for (char& c : *s) c = static_cast<char>(toupper(c));
    return a < b;
  }));
}

TEST_F(PortNamesTest, AnUnreadablePortListIsCodeTwentyThree) {
  std::vector<std::string> names;
  EXPECT_NO_THROW(CollectSerialPorts(sysfs.Path(), ports.File("absent"), names));
  ports.Write("file", "");
  try {
    CollectSerialPorts(sysfs.Path(), ports.File("file"), names);
    FAIL() << "no error";
  } catch (const EComPort& error) {
    EXPECT_EQ(error.Code(), 23);
    EXPECT_EQ(error.SystemCode(), ENOTDIR);
  }
  try {
    CollectSerialPorts(sysfs.File("absent"), ports.Path(), names);
    FAIL() << "no error";
  } catch (const EComPort& error) {
    EXPECT_EQ(error.Code(), 23);
    EXPECT_EQ(error.SystemCode(), ENOENT);
  }
}
