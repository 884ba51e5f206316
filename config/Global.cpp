#include "Global.h"

#include "QueuedCall.h"

#include <QCoreApplication>
#include <QObject>

#include <climits>
#include <unistd.h>

TConnectionSettings ConnectionSettings;
TOptionSettings OptionSettings;
TTransferSettings TransferSettings;
QObject* MainWindowHandle = nullptr;

namespace {
std::string& ExecutableDirectoryOverride() {
  static std::string directory;
  return directory;
}

std::string RealExecutableDirectory() {
  char path[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return "./";
  const std::string full(path, static_cast<size_t>(length));
  return full.substr(0, full.rfind('/') + 1);
}
}  // namespace

TPortStateEvent::TPortStateEvent(LinkState state)
    : QEvent(static_cast<QEvent::Type>(WM_PORT_STATE)), wParam(static_cast<intptr_t>(state)) {}

void PostPortState(QObject* target, LinkState state) {
  if (target) PostEvent(target, new TPortStateEvent(state));
}

std::string ExecutableDirectory() {
  const std::string& override = ExecutableDirectoryOverride();
  if (!override.empty()) return override;
  static const std::string real = RealExecutableDirectory();
  return real;
}

void SetExecutableDirectory(const std::string& directory) {
  std::string& override = ExecutableDirectoryOverride();
  override = directory;
  if (!override.empty() && override.back() != '/') override += '/';
}
