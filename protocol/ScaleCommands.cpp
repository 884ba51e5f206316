#include "ScaleCommands.h"

#include <string>

const TDatabaseKind* DatabaseKindNamed(std::string_view name) {
  for (const TDatabaseKind& kind : kDatabaseKinds)
    if (kind.Name == name) return &kind;
  return nullptr;
}

const TDatabaseKind* DatabaseKindAt(int position, int deviceType) {
  const TDatabaseKind* first = nullptr;
  for (const TDatabaseKind& kind : kDatabaseKinds) {
    if (kind.Position != position) continue;
    if (kind.DeviceType == deviceType || kind.DeviceType == kAnyDevice) return &kind;
    if (!first) first = &kind;
  }
  return first;
}

std::string_view DatabaseKindNames() {
  static const std::string names = [] {
    std::string joined;
    for (const TDatabaseKind& kind : kDatabaseKinds) joined += (joined.empty() ? "" : ", ") + std::string(kind.Name);
    return joined;
  }();
  return names;
}
