#pragma once
// "COM<n>" port names and the Linux devices they stand for.

#include <string>
#include <vector>

// SCALEDB_PORTS_DIR, or "ports/" beside the executable; with a trailing '/'.
std::string PortsDirectory();
// The number of a "COM<n>" name in any letter case (n without leading zeros), or 0 for other names.
int PortNumber(const std::string& name);
// The device path of a port name: its link in the ports directory, else the fixed families
// COM1-32 /dev/ttyS0-31, COM33-64 /dev/ttyUSB0-31, COM65-96 /dev/ttyACM0-31; empty for none.
std::string PortDevicePath(const std::string& name);
// A port name as PortDevicePath resolves it, or an absolute device path as it stands
// ("/dev/ttyUSB0", "/dev/serial/by-id/...").
std::string NamedOrPathDevice(const std::string& name);
// The COM name of a tty such as "ttyUSB2" ("COM35"); empty for a tty without one (ttyAMA0,
// ttyS40, tty1).
std::string ComNameOfTty(const std::string& tty);
// Whether the tty entry of a sysfs tty class directory is a serial device: a ttyS, ttyUSB, ttyACM
// or ttyAMA with a device behind it, and for a ttyS a UART (8250 ports without one say type 0).
bool IsSerialTty(const std::string& sysfsTty, const std::string& tty);
// The port list from a sysfs tty class directory and a ports directory, unsorted.
void CollectSerialPorts(const std::string& sysfsTty, const std::string& portsDirectory,
                        std::vector<std::string>& names);
// Sorts as text without regard to letter case and drops names that differ only in case.
void SortPortNames(std::vector<std::string>& names);
