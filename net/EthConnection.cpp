#include "EthConnection.h"

class TClientSocket {};
class TUDPServer {};

CEthConnection::CEthConnection() = default;
CEthConnection::~CEthConnection() = default;

void CEthConnection::ToggleConnection(uint8_t, const std::string&, int32_t) { PostPortState(State); }
void CEthConnection::SendTCP(const std::string&) {}
void CEthConnection::SendUDP(const std::string&) {}
