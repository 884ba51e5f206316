#pragma once
// scaledb-send --ports: the serial devices present, as a table or as JSON.

#include <string>

struct TPortSurvey;

// One aligned line per device under a header, each followed by its findings, indented.
std::string PortListText(const TPortSurvey& survey);
// {"ports": [{"device", "stable_name", "com", "driver", "usb", "may_open", "access", "holders",
// "notes"}], "taken_by_brltty": [...]}, ending in a line feed.
std::string PortListJson(const TPortSurvey& survey);
