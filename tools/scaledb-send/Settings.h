#pragma once
// The settings files scaledb-send reads (never writes): RuzOzodArir.ini for the serial settings,
// config.xml for the link when no target is given; both found where the window finds them.

#include "Targets.h"

#include <string>

std::string SerialSettingsPath();
// The link config.xml (and RuzOzodArir.ini) name, as the window would use it; the error in words
// when it names none that can be used.
TTargetParse ConfiguredTarget();
