#include "SerialPort.h"

EComPort::EComPort(int code, int systemCode)
    : std::runtime_error("Unable to open com port"), code_(code), systemCode_(systemCode) {}

TCustomComPort::TCustomComPort(QObject* owner) : QObject(owner) {}
TCustomComPort::~TCustomComPort() = default;

void TCustomComPort::OpenPort() { throw EComPort(1); }
void TCustomComPort::ClosePort() {}
void TCustomComPort::SetPort(const std::string& port) { port_ = port; }
void TCustomComPort::SetBaudRate(TBaudRate rate) { baudRate_ = rate; }
int TCustomComPort::WriteText(const std::string&) { throw EComPort(2); }
int TCustomComPort::ReadText(std::string& text, int) { text.clear(); return 0; }
void TCustomComPort::SaveSettings(TStoreType, const std::string&) { throw EComPort(16); }
void TCustomComPort::RestoreSettings(TStoreType, const std::string&) {}

static const char* const kBaudTexts[] = {"Custom", "110",   "300",   "600",   "1200",   "2400",
                                         "4800",   "9600",  "14400", "19200", "38400",  "56000",
                                         "57600",  "115200", "128000", "256000"};
std::string BaudRateText(TBaudRate rate) { return kBaudTexts[rate]; }
TBaudRate BaudRateFromText(const std::string&) { return br9600; }
