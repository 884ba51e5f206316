#pragma once
// What names one scale, whichever way a link names it: the key under which the ledger remembers
// it and under which one sender at a time may talk to it.

#include "LinkSettings.h"

#include <string>
#include <vector>

// "tcp:127.0.0.1:4001" (a host name or a numeric form resolved: localhost, 127.1 and 127.0.0.1 are
// one address), "udp:10.0.0.5:1001", "serial:/dev/serial/by-id/usb-FTDI_..." (the by-id link of the
// device when there is one, else the device's path; the rate is left out). `devRoot` is where the
// by-id links are looked for.
std::string ScaleKeyOf(const TLinkSettings& link, const std::string& devRoot = "/dev");

// Gives each target its scale's key; why they cannot be served together ("'a' and 'b' are the
// same scale (tcp:127.0.0.1:4001)"), or empty.
std::string ResolveScaleKeys(std::vector<TTarget>& targets);
