// The installation identifier: read from the current user's registry value, generated when it
// cannot be read, and written back on every reporting run. RegistryError never leaves this file's
// callers: each failure is logged with its code and the system's text for it.
#include "analytics/analytics_manager.h"
#include "network/installation_id.h"
#include "platform/text.h"

std::wstring ReadRegistryString(RegistryHive hive, const std::wstring& key_path,
                                const std::wstring& value_name) {
  std::wstring data;
  if (const int status = RegistryGetString(hive, key_path, value_name, data); status != 0) {
    throw RegistryError("Cannot read string from registry", status);
  }
  return data;
}

void AnalyticsManager::LoadOrCreateInstallationId() {
  try {
    // Taken as stored, whatever its text, even empty.
    installation_id_ =
        ToUtf8(ReadRegistryString(RegistryHive::CurrentUser, registry_key_path_, registry_value_name_));
    logger_->info("Found machine guid in registry");
  } catch (const RegistryError& error) {
    logger_->warn(
        "Could not fetch machine guid from registry, generating guid instead. Error code: {}, "
        "Text: {}",
        error.code(), GetErrorText(error.code()));
    installation_id_ = CreateInstallationId();
  }
}

void AnalyticsManager::StoreInstallationId() {
  logger_->info("Writing machine guid to registry");
  const std::wstring data = FromUtf8(installation_id_);
  try {
    RegistryKey key;
    if (RegistryOpenKey(RegistryHive::CurrentUser, registry_key_path_, key) != 0) {
      const int status = RegistryCreateKey(RegistryHive::CurrentUser, registry_key_path_, key);
      if (status != 0) throw RegistryError("Could not create registry key", status);
    }
    const int set_status = key.SetString(registry_value_name_, data);
    const int close_status = key.Close();
    if (set_status != 0) throw RegistryError("Could not set registry value data", set_status);
    if (close_status != 0) throw RegistryError("Could not close registry key", close_status);
  } catch (const RegistryError& error) {
    // This run's records keep the identifier all the same.
    logger_->error("Could not set machine guid in registry. Error code: {}, Text: {}",
                   error.code(), GetErrorText(error.code()));
  }
}
