// The current user's store of named text values: the registry hive on Windows, one file per value
// under the user's configuration folder elsewhere. A key path such as "Software\Nuvak\Zelk" names
// a key (a folder of values); "Software" stands for the configuration folder itself.
// Every operation returns 0 or the system's error code for GetErrorText; a missing key or value is
// 2, as on Windows.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

enum class RegistryHive { CurrentUser };

// An open key. Closing it (Close or the destructor) makes what was written to it durable.
class RegistryKey {
 public:
  RegistryKey() = default;
  ~RegistryKey();
  RegistryKey(RegistryKey&& other) noexcept;
  RegistryKey& operator=(RegistryKey&& other) noexcept;
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  bool IsOpen() const { return handle_ != -1; }
  // Stores `data` as the text value `value_name`, replacing any value of that name at once: a
  // crash leaves either the old value or the new one.
  int SetString(std::wstring_view value_name, std::wstring_view data);
  // 0 for a key that is not open.
  int Close();

 private:
  friend int RegistryOpenKey(RegistryHive, std::wstring_view, RegistryKey&);
  friend int RegistryCreateKey(RegistryHive, std::wstring_view, RegistryKey&);

  intptr_t handle_ = -1;
  std::filesystem::path folder_;
};

// Opens an existing key.
int RegistryOpenKey(RegistryHive hive, std::wstring_view key_path, RegistryKey& key);
// Opens a key, creating the missing keys along its path (private to the user).
int RegistryCreateKey(RegistryHive hive, std::wstring_view key_path, RegistryKey& key);
// Reads the text value `value_name` of the key into `data`. A value that is not text (a folder or
// a special file in its place) fails like an unreadable one.
int RegistryGetString(RegistryHive hive, std::wstring_view key_path, std::wstring_view value_name,
                      std::wstring& data);
