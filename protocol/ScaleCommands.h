#pragma once
// The scale's commands and acknowledgements, and the one table of the database kinds a transfer
// can start: plain data for the engine, the tools' options, the window, the file check and the
// content digest.

#include <string_view>

// One database kind: its name as the history, --kind and the report give it, the position of its
// choice in the window's "Database kind", the command that starts its transfer and the scale's
// acknowledgement of that command.
struct TDatabaseKind {
  std::string_view Name;
  int Position;
  std::string_view StartCommand;
  std::string_view Acknowledgement;
  // The window's device type that calls the position by this name; kAnyDevice: every type does.
  int DeviceType;
};

inline constexpr int kAnyDevice = -1;

// The product database of a standard scale is the label database of a scale with KX-17: the same
// position, the same command.
inline constexpr TDatabaseKind kDatabaseKinds[] = {
    {"products", 0, "SbP", "MbP", 0},
    {"labels", 0, "SbP", "MbP", 1},
    {"users", 1, "SbU", "MbU", kAnyDevice},
    {"statuses", 2, "SbS", "MbS", kAnyDevice},
};

inline constexpr std::string_view kRecordCommand = "Sr";
inline constexpr std::string_view kRecordAcknowledgement = "Mr";
inline constexpr std::string_view kEndCommand = "Se";
inline constexpr std::string_view kEndAcknowledgement = "Me";

// The kind of that name; none for another text.
const TDatabaseKind* DatabaseKindNamed(std::string_view name);
// The kind at the position, as the device type names it; none for a position without a kind.
const TDatabaseKind* DatabaseKindAt(int position, int deviceType = kAnyDevice);
// "products, labels, users, statuses".
std::string_view DatabaseKindNames();
