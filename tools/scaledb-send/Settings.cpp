#include "Settings.h"

#include "Global.h"
#include "Link.h"
#include "SerialLink.h"
#include "SerialPort.h"
#include "SettingsLocation.h"
#include "XMLConfig.h"

namespace {
TTargetParse SerialTarget() {
  TTargetParse parse;
  TLinkSettings& link = parse.Target.Link;
  link.Kind = TLinkSettings::TKind::Serial;
  link.SerialPort.clear();
  link.BaudRate = 0;
  link.SerialSettingsFile = SerialSettingsPath();
  const std::unique_ptr<TComPort> port = MakeSerialPort(link);
  link.SerialPort = port->Port();
  parse.Target.Text = SerialLinkName(*port);
  return parse;
}

TTargetParse EthernetTarget(const TConnectionSettings& settings) {
  const std::string kind = settings.Protocol == epUdp ? "udp:" : "tcp:";
  TTargetParse parse = ParseTarget(kind + settings.Host + ":" + std::to_string(settings.Port));
  if (!parse.Error.empty()) parse.Error = "config.xml names no usable link: " + parse.Error;
  return parse;
}
}  // namespace

std::string SerialSettingsPath() { return SettingsFile(kSerialSettingsFileName); }

TTargetParse ConfiguredTarget() {
  TXMLConfig config;
  OpenConfig(config);
  // Its defaults would name a link nobody chose.
  if (!config.LoadFailure.empty()) {
    TTargetParse parse;
    parse.Error = config.LoadedPath + " cannot be read (" + config.LoadFailure + "), so it names no link; name a target";
    return parse;
  }
  ReadConfig(config);
  if (!config.ReadFailure.empty()) {
    TTargetParse parse;
    parse.Error = config.LoadedPath + " could not be read whole (" + config.ReadFailure + "), so its link is not certain; name a target";
    return parse;
  }
  TTargetParse parse = ConnectionSettings.Kind == ikSerial ? SerialTarget() : EthernetTarget(ConnectionSettings);
  parse.Target.Name = parse.Target.Text;
  return parse;
}
