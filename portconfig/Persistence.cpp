#include "Persistence.h"

#include <functional>
#include <vector>

#include "SettingsText.h"

namespace vardelio {
namespace {

// One persisted setting: its key, its group, and how it reads and assigns as text.
struct TSettingKey {
  TSettingsGroup group;
  const char* name;
  bool integer;  // a 32-bit value in the registry
  std::function<std::string(const TCustomComPort&)> text;
  std::function<void(TCustomComPort&, const std::string&)> assign;
};

template <typename Get, typename Set>
TSettingKey Integer(TSettingsGroup group, const char* name, Get get, Set set) {
  return {group, name, true, [get](const TCustomComPort& p) { return std::to_string(get(p)); },
          [get, set](TCustomComPort& p, const std::string& text) {
            set(p, ParseIntegerText(text).value_or(get(p)));
          }};
}

TSettingKey Flag(TSettingsGroup group, const char* name, bool (*get)(const TCustomComPort&),
                 void (*set)(TCustomComPort&, bool)) {
  return {group, name, false, [get](const TCustomComPort& p) { return YesNoText(get(p)); },
          [set](TCustomComPort& p, const std::string& t) { set(p, ParseYesNo(t)); }};
}

TSettingKey Char(TSettingsGroup group, const char* name, char (*get)(const TCustomComPort&),
                 void (*set)(TCustomComPort&, char)) {
  return {group, name, false, [get](const TCustomComPort& p) { return CharText(get(p)); },
          [set](TCustomComPort& p, const std::string& t) { set(p, ParseChar(t)); }};
}

// The keys in the order they are written and read.
const std::vector<TSettingKey>& Keys() {
  using P = TCustomComPort;
  static const std::vector<TSettingKey> keys = {
      {sgBasic, "Port", false, [](const P& p) { return p.Port(); },
       [](P& p, const std::string& t) { p.SetPort(t); }},
      {sgBasic, "BaudRate", false, [](const P& p) { return BaudRateText(p.BaudRate()); },
       [](P& p, const std::string& t) { p.SetBaudRate(ParseBaudRate(t)); }},
      Integer(
          sgBasic, "CustomBaudRate", [](const P& p) { return p.CustomBaudRate(); },
          [](P& p, std::int32_t v) { p.SetCustomBaudRate(v); }),
      {sgBasic, "StopBits", false, [](const P& p) { return StopBitsText(p.StopBits()); },
       [](P& p, const std::string& t) { p.SetStopBits(ParseStopBits(t)); }},
      {sgBasic, "DataBits", false, [](const P& p) { return DataBitsText(p.DataBits()); },
       [](P& p, const std::string& t) { p.SetDataBits(ParseDataBits(t)); }},
      {sgBasic, "Parity", false, [](const P& p) { return ParityText(p.Parity().Bits()); },
       [](P& p, const std::string& t) { p.Parity().SetBits(ParseParity(t)); }},
      {sgBasic, "FlowControl", false,
       [](const P& p) { return FlowControlText(p.FlowControl().FlowControl()); },
       [](P& p, const std::string& t) { p.FlowControl().SetFlowControl(ParseFlowControl(t)); }},
      Char(
          sgOthers, "EventChar", [](const P& p) { return p.EventChar(); },
          [](P& p, char c) { p.SetEventChar(c); }),
      Flag(
          sgOthers, "DiscardNull", [](const P& p) { return p.DiscardNull(); },
          [](P& p, bool b) { p.SetDiscardNull(b); }),
      Flag(
          sgParity, "Parity.Check", [](const P& p) { return p.Parity().Check(); },
          [](P& p, bool b) { p.Parity().SetCheck(b); }),
      Flag(
          sgParity, "Parity.Replace", [](const P& p) { return p.Parity().Replace(); },
          [](P& p, bool b) { p.Parity().SetReplace(b); }),
      Char(
          sgParity, "Parity.ReplaceChar", [](const P& p) { return p.Parity().ReplaceChar(); },
          [](P& p, char c) { p.Parity().SetReplaceChar(c); }),
      Integer(
          sgBuffer, "Buffer.OutputSize", [](const P& p) { return p.Buffer().OutputSize(); },
          [](P& p, std::int32_t v) { p.Buffer().SetOutputSize(v); }),
      Integer(
          sgBuffer, "Buffer.InputSize", [](const P& p) { return p.Buffer().InputSize(); },
          [](P& p, std::int32_t v) { p.Buffer().SetInputSize(v); }),
      Integer(
          sgTimeouts, "Timeouts.ReadInterval",
          [](const P& p) { return p.Timeouts().ReadInterval(); },
          [](P& p, std::int32_t v) { p.Timeouts().SetReadInterval(v); }),
      Integer(
          sgTimeouts, "Timeouts.ReadTotalConstant",
          [](const P& p) { return p.Timeouts().ReadTotalConstant(); },
          [](P& p, std::int32_t v) { p.Timeouts().SetReadTotalConstant(v); }),
      Integer(
          sgTimeouts, "Timeouts.ReadTotalMultiplier",
          [](const P& p) { return p.Timeouts().ReadTotalMultiplier(); },
          [](P& p, std::int32_t v) { p.Timeouts().SetReadTotalMultiplier(v); }),
      Integer(
          sgTimeouts, "Timeouts.WriteTotalConstant",
          [](const P& p) { return p.Timeouts().WriteTotalConstant(); },
          [](P& p, std::int32_t v) { p.Timeouts().SetWriteTotalConstant(v); }),
      Integer(
          sgTimeouts, "Timeouts.WriteTotalMultiplier",
          [](const P& p) { return p.Timeouts().WriteTotalMultiplier(); },
          [](P& p, std::int32_t v) { p.Timeouts().SetWriteTotalMultiplier(v); }),
      {sgFlowControl, "FlowControl.ControlRTS", false,
       [](const P& p) { return RTSControlText(p.FlowControl().ControlRTS()); },
       [](P& p, const std::string& t) { p.FlowControl().SetControlRTS(ParseRTSControl(t)); }},
      {sgFlowControl, "FlowControl.ControlDTR", false,
       [](const P& p) { return DTRControlText(p.FlowControl().ControlDTR()); },
       [](P& p, const std::string& t) { p.FlowControl().SetControlDTR(ParseDTRControl(t)); }},
      Flag(
          sgFlowControl, "FlowControl.DSRSensitivity",
          [](const P& p) { return p.FlowControl().DSRSensitivity(); },
          [](P& p, bool b) { p.FlowControl().SetDSRSensitivity(b); }),
      Flag(
          sgFlowControl, "FlowControl.OutCTSFlow",
          [](const P& p) { return p.FlowControl().OutCTSFlow(); },
          [](P& p, bool b) { p.FlowControl().SetOutCTSFlow(b); }),
      Flag(
          sgFlowControl, "FlowControl.OutDSRFlow",
          [](const P& p) { return p.FlowControl().OutDSRFlow(); },
          [](P& p, bool b) { p.FlowControl().SetOutDSRFlow(b); }),
      Flag(
          sgFlowControl, "FlowControl.TxContinueOnXoff",
          [](const P& p) { return p.FlowControl().TxContinueOnXoff(); },
          [](P& p, bool b) { p.FlowControl().SetTxContinueOnXoff(b); }),
      Flag(
          sgFlowControl, "FlowControl.XonXoffIn",
          [](const P& p) { return p.FlowControl().XonXoffIn(); },
          [](P& p, bool b) { p.FlowControl().SetXonXoffIn(b); }),
      Flag(
          sgFlowControl, "FlowControl.XonXoffOut",
          [](const P& p) { return p.FlowControl().XonXoffOut(); },
          [](P& p, bool b) { p.FlowControl().SetXonXoffOut(b); }),
      Char(
          sgFlowControl, "FlowControl.XoffChar",
          [](const P& p) { return p.FlowControl().XoffChar(); },
          [](P& p, char c) { p.FlowControl().SetXoffChar(c); }),
      Char(
          sgFlowControl, "FlowControl.XonChar",
          [](const P& p) { return p.FlowControl().XonChar(); },
          [](P& p, char c) { p.FlowControl().SetXonChar(c); }),
  };
  return keys;
}

bool IsCustomRate(const TSettingKey& key) {
  return std::string(key.name) == "CustomBaudRate";
}

// The keys that apply now: their group is persisted, and the custom rate only with brCustom.
template <typename F>
void ForEachKey(const TCustomComPort& port, F&& action) {
  for (const TSettingKey& key : Keys()) {
    if (!port.PersistedGroups.Contains(key.group)) continue;
    if (IsCustomRate(key) && port.BaudRate() != brCustom) continue;
    action(key);
  }
}

std::string Section(const TCustomComPort& port) {
  return port.Name().toStdString();
}

}  // namespace

void SaveToIniFile(const TCustomComPort& port, TIniFile& file) {
  ForEachKey(port, [&](const TSettingKey& key) {
    file.WriteString(Section(port), key.name, key.text(port));
  });
}

void RestoreFromIniFile(TCustomComPort& port, const TIniFile& file) {
  ForEachKey(port, [&](const TSettingKey& key) {
    // The current value is the default, so a missing key leaves its property alone.
    const std::string fallback = IsCustomRate(key) ? "9600" : key.text(port);
    const std::string text = file.ReadString(Section(port), key.name, fallback);
    // A value that is no integer takes the default text, as a missing one does.
    key.assign(port, key.integer && !ParseIntegerText(text) ? fallback : text);
  });
}

void SaveToRegistry(const TCustomComPort& port, TRegistry& registry) {
  ForEachKey(port, [&](const TSettingKey& key) {
    if (key.integer) {
      registry.WriteInteger(key.name, *ParseIntegerText(key.text(port)));
    } else {
      registry.WriteString(key.name, key.text(port));
    }
  });
}

void RestoreFromRegistry(TCustomComPort& port, const TRegistry& registry) {
  ForEachKey(port, [&](const TSettingKey& key) {
    key.assign(port, key.integer ? std::to_string(registry.ReadInteger(key.name))
                                 : registry.ReadString(key.name));
  });
}

bool OpenSettingsKey(TRegistry& registry, const std::string& location,
                     const std::string& portName) {
  const std::size_t slash = location.find('\\');
  if (slash == std::string::npos) return false;
  const std::string root = AsciiUpper(location.substr(0, slash));
  if (root == "HKEY_LOCAL_MACHINE") registry.RootKey = TRegistryRoot::LocalMachine;
  if (root == "HKEY_CURRENT_USER") registry.RootKey = TRegistryRoot::CurrentUser;
  std::string path = location.substr(slash + 1);
  if (path.empty() || path.back() != '\\') path += '\\';
  return registry.OpenKey(path + portName, true);
}

void SaveSettings(TCustomComPort& port, TSettingsStorage storage, const std::string& location) {
  try {
    if (storage == ssIniFile) {
      TIniFile file(location);
      SaveToIniFile(port, file);
    } else {
      TRegistry registry;
      OpenSettingsKey(registry, location, port.Name().toStdString());
      SaveToRegistry(port, registry);
    }
  } catch (const std::exception&) {
    throw EComPort(16);
  }
}

void RestoreSettings(TCustomComPort& port, TSettingsStorage storage, const std::string& location) {
  bool failed = false;
  port.BeginBatch();
  try {
    if (storage == ssIniFile) {
      RestoreFromIniFile(port, TIniFile(location));
    } else {
      TRegistry registry;
      OpenSettingsKey(registry, location, port.Name().toStdString());
      RestoreFromRegistry(port, registry);
    }
  } catch (const std::exception&) {
    failed = true;
  }
  try {
    port.EndBatch();
  } catch (const std::exception&) {
    failed = true;
  }
  if (failed) throw EComPort(17);
}

}  // namespace vardelio
