#pragma once
// Process-wide settings and the handle of the main window.

#include <QEvent>
#include <cstdint>
#include <string>

class QObject;

// The link's kind and the Ethernet protocol, compared by name; the settings and the connection
// dialog's radio groups keep their numbers.
enum TInterfaceKind : uint8_t { ikSerial = 0, ikEthernet = 1 };
enum TEthernetProtocol : uint8_t { epTcp = 0, epUdp = 1 };

struct TConnectionSettings {
  uint8_t Kind = ikSerial;   // a TInterfaceKind
  std::string Host;          // the scale's address
  uint8_t Protocol = epTcp;  // a TEthernetProtocol
  int32_t Port = 0;
};

struct TOptionSettings {
  std::string OrdersFileName;
  bool WindRow = false;
  int8_t WindRowMode = 0;
  std::string WindRowChar;
  bool SaveASCII = false;
  bool InsertTime = false;
  bool ChangePointToColon = false;
};

// How patient a transfer is with its scale, and the code page its text goes out in.
struct TTransferSettings {
  int32_t AnswerTimeout = 15;  // seconds a waiting command waits for a line; 0 waits without limit
  int32_t RecordRetries = 5;   // times a refused record is sent again; 0 without limit
  std::string ScaleCodePage;   // a UTF-8 file's text is converted into it; empty sends the bytes as they are
  bool Transliterate = false;  // characters the code page lacks become their closest letter
};

extern TConnectionSettings ConnectionSettings;
extern TOptionSettings OptionSettings;
extern TTransferSettings TransferSettings;

// The main window, written once when it is created.
extern QObject* MainWindowHandle;

// The network connection's state, compared by name; WM_PORT_STATE carries its number.
enum LinkState : int8_t { lsClosing = -1, lsDisconnected = 0, lsConnecting = 1, lsConnected = 2 };

// First user message number (1024) plus one.
constexpr int WM_PORT_STATE = 1025;

// The posted state message; wParam carries the LinkState sign-extended, lParam is 0.
class TPortStateEvent : public QEvent {
 public:
  explicit TPortStateEvent(LinkState state);
  intptr_t wParam;
  intptr_t lParam = 0;
};

// Posts WM_PORT_STATE to `target`; it is handled later, on the target's thread.
void PostPortState(QObject* target, LinkState state);

// The serial port settings beside config.xml.
inline constexpr const char* kSerialSettingsFileName = "RuzOzodArir.ini";

// The full path of the running executable up to and including its last '/'.
std::string ExecutableDirectory();
// Points ExecutableDirectory at another folder (tests and tools); empty restores the real one.
void SetExecutableDirectory(const std::string& directory);
