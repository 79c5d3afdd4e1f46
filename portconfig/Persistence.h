#pragma once
// Saving a port's settings to, and restoring them from, an INI file or a registry key.

#include <string>

#include "ProfileFile.h"
#include "Registry.h"
#include "serial/ComPort.h"

namespace vardelio {

enum TSettingsStorage : std::uint8_t { ssRegistry, ssIniFile };

// Any failure becomes "Failed to store settings" (code 16).
void SaveSettings(TCustomComPort& port, TSettingsStorage storage, const std::string& location);
// Inside a settings batch; any failure becomes "Failed to load settings" (code 17).
void RestoreSettings(TCustomComPort& port, TSettingsStorage storage, const std::string& location);

// One section named after the port, the keys of PersistedGroups in their order.
void SaveToIniFile(const TCustomComPort& port, TIniFile& file);
// A missing key leaves its property as it is.
void RestoreFromIniFile(TCustomComPort& port, const TIniFile& file);
void SaveToRegistry(const TCustomComPort& port, TRegistry& registry);
// No defaults: absent strings read empty, absent integers fail.
void RestoreFromRegistry(TCustomComPort& port, const TRegistry& registry);

// "ROOT\path" opens path\<portName> below that root; false when no key could be opened.
bool OpenSettingsKey(TRegistry& registry, const std::string& location, const std::string& portName);

}  // namespace vardelio
