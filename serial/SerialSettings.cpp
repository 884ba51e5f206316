// SaveSettings/RestoreSettings of the serial port with an INI file.

#include "IniFile.h"
#include "SerialPort.h"

namespace {
struct TSettingKey {
  TStoredProp Group;
  const char* Key;
  std::string (*Get)(const TCustomComPort& port);
  void (*Set)(TCustomComPort& port, const std::string& text);
};

const char kCustomBaudRate[] = "CustomBaudRate";

// In the order the keys are written and read; the groups in the order they are handled.
const TSettingKey kKeys[] = {
    {sgBasic, "Port", [](const TCustomComPort& p) { return p.Port(); },
     [](TCustomComPort& p, const std::string& t) { p.SetPort(t); }},
    {sgBasic, "BaudRate", [](const TCustomComPort& p) { return BaudRateText(p.BaudRate()); },
     [](TCustomComPort& p, const std::string& t) { p.SetBaudRate(BaudRateFromText(t)); }},
    {sgBasic, kCustomBaudRate, [](const TCustomComPort& p) { return std::to_string(p.CustomBaudRate()); },
     [](TCustomComPort& p, const std::string& t) { p.SetCustomBaudRate(ParseIniInteger(t, 9600)); }},
    {sgBasic, "StopBits", [](const TCustomComPort& p) { return StopBitsText(p.StopBits()); },
     [](TCustomComPort& p, const std::string& t) { p.SetStopBits(StopBitsFromText(t)); }},
    {sgBasic, "DataBits", [](const TCustomComPort& p) { return DataBitsText(p.DataBits()); },
     [](TCustomComPort& p, const std::string& t) { p.SetDataBits(DataBitsFromText(t)); }},
    {sgBasic, "Parity", [](const TCustomComPort& p) { return ParityText(p.Parity().Bits()); },
     [](TCustomComPort& p, const std::string& t) { p.Parity().SetBits(ParityFromText(t)); }},
    {sgBasic, "FlowControl", [](const TCustomComPort& p) { return FlowControlText(p.FlowControl().FlowControl()); },
     [](TCustomComPort& p, const std::string& t) { p.FlowControl().SetFlowControl(FlowControlFromText(t)); }},
    {sgOthers, "EventChar", [](const TCustomComPort& p) { return CharSettingText(p.EventChar()); },
     [](TCustomComPort& p, const std::string& t) { p.SetEventChar(CharSettingFromText(t)); }},
    {sgOthers, "DiscardNull", [](const TCustomComPort& p) { return YesNoText(p.DiscardNull()); },
     [](TCustomComPort& p, const std::string& t) { p.SetDiscardNull(YesNoFromText(t)); }},
    {sgParity, "Parity.Check", [](const TCustomComPort& p) { return YesNoText(p.Parity().Check()); },
     [](TCustomComPort& p, const std::string& t) { p.Parity().SetCheck(YesNoFromText(t)); }},
    {sgParity, "Parity.Replace", [](const TCustomComPort& p) { return YesNoText(p.Parity().Replace()); },
     [](TCustomComPort& p, const std::string& t) { p.Parity().SetReplace(YesNoFromText(t)); }},
    {sgParity, "Parity.ReplaceChar", [](const TCustomComPort& p) { return CharSettingText(p.Parity().ReplaceChar()); },
     [](TCustomComPort& p, const std::string& t) { p.Parity().SetReplaceChar(CharSettingFromText(t)); }},
    {sgBuffer, "Buffer.OutputSize", [](const TCustomComPort& p) { return std::to_string(p.Buffer().OutputSize()); },
     [](TCustomComPort& p, const std::string& t) { p.Buffer().SetOutputSize(ParseIniInteger(t, p.Buffer().OutputSize())); }},
    {sgBuffer, "Buffer.InputSize", [](const TCustomComPort& p) { return std::to_string(p.Buffer().InputSize()); },
     [](TCustomComPort& p, const std::string& t) { p.Buffer().SetInputSize(ParseIniInteger(t, p.Buffer().InputSize())); }},
    {sgTimeouts, "Timeouts.ReadInterval",
     [](const TCustomComPort& p) { return std::to_string(p.Timeouts().ReadInterval()); },
     [](TCustomComPort& p, const std::string& t) {
       p.Timeouts().SetReadInterval(ParseIniInteger(t, p.Timeouts().ReadInterval()));
     }},
    {sgTimeouts, "Timeouts.ReadTotalConstant",
     [](const TCustomComPort& p) { return std::to_string(p.Timeouts().ReadTotalConstant()); },
     [](TCustomComPort& p, const std::string& t) {
       p.Timeouts().SetReadTotalConstant(ParseIniInteger(t, p.Timeouts().ReadTotalConstant()));
     }},
    {sgTimeouts, "Timeouts.ReadTotalMultiplier",
     [](const TCustomComPort& p) { return std::to_string(p.Timeouts().ReadTotalMultiplier()); },
     [](TCustomComPort& p, const std::string& t) {
       p.Timeouts().SetReadTotalMultiplier(ParseIniInteger(t, p.Timeouts().ReadTotalMultiplier()));
     }},
    {sgTimeouts, "Timeouts.WriteTotalConstant",
     [](const TCustomComPort& p) { return std::to_string(p.Timeouts().WriteTotalConstant()); },
     [](TCustomComPort& p, const std::string& t) {
       p.Timeouts().SetWriteTotalConstant(ParseIniInteger(t, p.Timeouts().WriteTotalConstant()));
     }},
    {sgTimeouts, "Timeouts.WriteTotalMultiplier",
     [](const TCustomComPort& p) { return std::to_string(p.Timeouts().WriteTotalMultiplier()); },
     [](TCustomComPort& p, const std::string& t) {
       p.Timeouts().SetWriteTotalMultiplier(ParseIniInteger(t, p.Timeouts().WriteTotalMultiplier()));
     }},
    {sgFlowControl, "FlowControl.ControlRTS",
     [](const TCustomComPort& p) { return RtsControlText(p.FlowControl().ControlRTS()); },
     [](TCustomComPort& p, const std::string& t) { p.FlowControl().SetControlRTS(RtsControlFromText(t)); }},
    {sgFlowControl, "FlowControl.ControlDTR",
     [](const TCustomComPort& p) { return DtrControlText(p.FlowControl().ControlDTR()); },
     [](TCustomComPort& p, const std::string& t) { p.FlowControl().SetControlDTR(DtrControlFromText(t)); }},
    {sgFlowControl, "FlowControl.DSRSensitivity",
     [](const TCustomComPort& p) { return YesNoText(p.FlowControl().DSRSensitivity()); },
     [](TCustomComPort& p, const std::string& t) { p.FlowControl().SetDSRSensitivity(YesNoFromText(t)); }},
    {sgFlowControl, "FlowControl.OutCTSFlow",
     [](const TCustomComPort& p) { return YesNoText(p.FlowControl().OutCTSFlow()); },
     [](TCustomComPort& p, const std::string& t) { p.FlowControl().SetOutCTSFlow(YesNoFromText(t)); }},
    {sgFlowControl, "FlowControl.OutDSRFlow",
     [](const TCustomComPort& p) { return YesNoText(p.FlowControl().OutDSRFlow()); },
     [](TCustomComPort& p, const std::string& t) { p.FlowControl().SetOutDSRFlow(YesNoFromText(t)); }},
    {sgFlowControl, "FlowControl.TxContinueOnXoff",
     [](const TCustomComPort& p) { return YesNoText(p.FlowControl().TxContinueOnXoff()); },
     [](TCustomComPort& p, const std::string& t) { p.FlowControl().SetTxContinueOnXoff(YesNoFromText(t)); }},
    {sgFlowControl, "FlowControl.XonXoffIn",
     [](const TCustomComPort& p) { return YesNoText(p.FlowControl().XonXoffIn()); },
     [](TCustomComPort& p, const std::string& t) { p.FlowControl().SetXonXoffIn(YesNoFromText(t)); }},
    {sgFlowControl, "FlowControl.XonXoffOut",
     [](const TCustomComPort& p) { return YesNoText(p.FlowControl().XonXoffOut()); },
     [](TCustomComPort& p, const std::string& t) { p.FlowControl().SetXonXoffOut(YesNoFromText(t)); }},
    {sgFlowControl, "FlowControl.XoffChar",
     [](const TCustomComPort& p) { return CharSettingText(p.FlowControl().XoffChar()); },
     [](TCustomComPort& p, const std::string& t) { p.FlowControl().SetXoffChar(CharSettingFromText(t)); }},
    {sgFlowControl, "FlowControl.XonChar",
     [](const TCustomComPort& p) { return CharSettingText(p.FlowControl().XonChar()); },
     [](TCustomComPort& p, const std::string& t) { p.FlowControl().SetXonChar(CharSettingFromText(t)); }},
};

const TStoredProp kGroupOrder[] = {sgBasic, sgOthers, sgParity, sgBuffer, sgTimeouts, sgFlowControl};

template <typename Visit>
void ForEachSavedKey(TStoredProps groups, Visit visit) {
  for (TStoredProp group : kGroupOrder) {
    if (!(groups & StoredProp(group))) continue;
    for (const TSettingKey& key : kKeys)
      if (key.Group == group) visit(key);
  }
}

bool IsCustomBaudRate(const TSettingKey& key) { return key.Key == kCustomBaudRate; }
}  // namespace

void TCustomComPort::SaveSettings(TStoreType kind, const std::string& path) {
  if (kind != stIniFile) throw EComPort(16);
  try {
    StoreIniFile(path);
  } catch (const EIniFile& failure) {
    throw EComPort(16, failure.SystemCode());
  } catch (...) {
    throw EComPort(16);
  }
}

void TCustomComPort::RestoreSettings(TStoreType kind, const std::string& path) {
  if (kind != stIniFile) throw EComPort(17);
  try {
    LoadIniFile(path);
  } catch (...) {
    throw EComPort(17);
  }
}

void TCustomComPort::StoreIniFile(const std::string& path) {
  TIniFile ini(path);
  SaveSettings(ini);
}

void TCustomComPort::SaveSettings(TIniFile& ini) {
  std::vector<std::pair<std::string, std::string>> values;
  ForEachSavedKey(savedGroups_, [&](const TSettingKey& key) {
    if (IsCustomBaudRate(key) && baudRate_ != brCustom) return;
    values.emplace_back(key.Key, key.Get(*this));
  });
  // One save for all keys: the file holds the old settings or all of the new ones.
  ini.WriteStrings(objectName().toStdString(), values);
}

void TCustomComPort::LoadIniFile(const std::string& path) { RestoreSettings(TIniFile(path)); }

void TCustomComPort::RestoreSettings(const TIniFile& ini) {
  SuspendApply();
  bool failed = false;
  try {
    const TIniFile::TSectionReader section = ini.Section(objectName().toStdString());
    ForEachSavedKey(savedGroups_, [&](const TSettingKey& key) {
      // The custom rate falls back to 9600, not to the current value.
      if (IsCustomBaudRate(key) && baudRate_ != brCustom) return;
      const std::string fallback = IsCustomBaudRate(key) ? "9600" : key.Get(*this);
      key.Set(*this, section.ReadString(key.Key, fallback));
    });
  } catch (...) {
    failed = true;
  }
  try {
    ResumeApply();
  } catch (...) {
    failed = true;
  }
  if (failed) throw EComPort(17);
}
