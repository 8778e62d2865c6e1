// The registry calls the start window makes, with their Windows signatures
// and result codes, on the machine registry that Wine keeps.
//
// HKEY_LOCAL_MACHINE is the text hive "system.reg" in the Wine prefix
// ($WINEPREFIX, else ~/.wine).  The hive is read afresh at every
// RegOpenKeyExA and never written.  Key names compare without regard to
// letter case.  A missing hive means no key opens, and so does one that is
// no regular file (a FIFO, a device) or larger than kMaxHiveBytes: it is
// never waited for.  A value written wrong (a number that is no hex number
// of its size) is no value; the rest of the hive is read as ever.

#ifndef KAV_PLATFORM_REGISTRY_REGISTRY_H_
#define KAV_PLATFORM_REGISTRY_REGISTRY_H_

#include <cstdint>
#include <string>

using HKEY = uintptr_t;
using DWORD = uint32_t;
using LONG = long;

inline constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002;

enum : LONG {
  ERROR_SUCCESS = 0,
  ERROR_FILE_NOT_FOUND = 2,
  ERROR_ACCESS_DENIED = 5,
  ERROR_INVALID_HANDLE = 6,
  ERROR_MORE_DATA = 234,
};

enum : DWORD {
  REG_NONE = 0,
  REG_SZ = 1,
  REG_EXPAND_SZ = 2,
  REG_BINARY = 3,
  REG_DWORD = 4,
};

// Access rights.  Any of the write rights fails with ERROR_ACCESS_DENIED
// when the hive file is not writable by the user, as on a machine where the
// account may not write the key.
enum : DWORD {
  KEY_QUERY_VALUE = 0x0001,
  KEY_SET_VALUE = 0x0002,
  KEY_CREATE_SUB_KEY = 0x0004,
  KEY_ENUMERATE_SUB_KEYS = 0x0008,
  KEY_NOTIFY = 0x0010,
  KEY_CREATE_LINK = 0x0020,
  READ_CONTROL = 0x00020000,
};

// Opens `lpSubKey` under `hKey`; *phkResult is 0 when the open fails.
LONG RegOpenKeyExA(HKEY hKey, const char* lpSubKey, DWORD ulOptions, DWORD samDesired,
                   HKEY* phkResult);

// Reads the value `lpValueName` ("" or nullptr: the key's default value).
// Strings come with their terminating NUL.  When lpData is too small the
// result is ERROR_MORE_DATA and *lpcbData the size needed.
LONG RegQueryValueExA(HKEY hKey, const char* lpValueName, DWORD* lpReserved, DWORD* lpType,
                      uint8_t* lpData, DWORD* lpcbData);

LONG RegCloseKey(HKEY hKey);

namespace registry {
// The most of a hive file that is read.  Wine's hives are a few MB; a file
// larger than this is no hive that Wine wrote (or one that grows without
// end), and is read as holding no key.
inline constexpr std::uintmax_t kMaxHiveBytes = std::uintmax_t{64} << 20;

// The hive file HKEY_LOCAL_MACHINE is read from.
std::string MachineHivePath();
}  // namespace registry

#endif  // KAV_PLATFORM_REGISTRY_REGISTRY_H_
