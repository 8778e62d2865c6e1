// The registry calls on a Wine hive written by the test.

#include "platform/registry/registry.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/harness.h"

namespace {

using kav::testing::TempDir;

const char* const kHive = R"(WINE REGISTRY Version 2
;; All keys relative to \\Machine
#arch=win32

[Software\\Classes\\Access.Application.11\\shell\\open\\command] 1134567890
#time=1d2f3a4b5c6d7e8
@="\"C:\\Program Files\\Microsoft Office\\OFFICE11\\MSACCESS.EXE\" /NOSTARTUP \"%1\""
"Other"=str(2):"%SystemRoot%\\x"

[Software\\Classes\\Access.Application.10\\shell\\open\\command] 1134567890
"NotDefault"="C:\\a.exe"

[Software\\Classes\\Raw] 1134567890
@=hex(1):41,42,\
  43
"Count"=dword:0000002a
)";

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    hive = dir.File("system.reg");
    std::ofstream(hive) << kHive;
    setenv("WINEPREFIX", dir.path().c_str(), 1);
  }
  void TearDown() override { unsetenv("WINEPREFIX"); }

  // Opens `key` with `mask`, reads `value` into a buffer of `size` bytes.
  struct Read {
    LONG open;
    LONG query = -1;
    DWORD type = 0;
    DWORD size = 0;
    std::string data;
  };
  Read ReadValue(const char* key, const char* value, DWORD mask = 0x2003F, DWORD size = 1024) {
    Read r;
    HKEY h = 0;
    r.open = RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, mask, &h);
    if (r.open == ERROR_SUCCESS) {
      std::vector<uint8_t> buffer(size, 0);
      r.size = size;
      r.query = RegQueryValueExA(h, value, nullptr, &r.type, buffer.data(), &r.size);
      if (r.query == ERROR_SUCCESS) r.data.assign(buffer.begin(), buffer.begin() + r.size);
      EXPECT_EQ(RegCloseKey(h), ERROR_SUCCESS);
      EXPECT_EQ(RegCloseKey(h), ERROR_INVALID_HANDLE);
    } else {
      EXPECT_EQ(h, 0u);
    }
    return r;
  }

  TempDir dir;
  std::string hive;
};

TEST_F(RegistryTest, ReadsDefaultValuesOfKeysInAnyCase) {
  Read r = ReadValue("SOFTWARE\\classes\\Access.Application.11\\shell\\open\\command", "");
  ASSERT_EQ(r.open, ERROR_SUCCESS);
  ASSERT_EQ(r.query, ERROR_SUCCESS);
  EXPECT_EQ(r.type, REG_SZ);
  EXPECT_EQ(r.data, std::string("\"C:\\Program Files\\Microsoft Office\\OFFICE11\\MSACCESS.EXE\""
                                " /NOSTARTUP \"%1\"") +
                        '\0');

  r = ReadValue("software\\CLASSES\\access.application.11\\SHELL\\open\\command", "other");
  EXPECT_EQ(r.type, REG_EXPAND_SZ);
  EXPECT_EQ(r.data, std::string("%SystemRoot%\\x") + '\0');

  r = ReadValue("Software\\Classes\\Raw", nullptr);
  EXPECT_EQ(r.type, 1u);
  EXPECT_EQ(r.data, "ABC") << "raw text data carries no NUL of its own";
  r = ReadValue("Software\\Classes\\Raw", "Count");
  EXPECT_EQ(r.type, REG_DWORD);
  EXPECT_EQ(r.data, std::string("\x2a\0\0\0", 4));
}

TEST_F(RegistryTest, MissingKeysValuesAndHive) {
  EXPECT_EQ(ReadValue("Software\\Classes\\Access.Application.9\\shell\\open\\command", "").open,
            ERROR_FILE_NOT_FOUND);
  Read r = ReadValue("Software\\Classes\\Access.Application.10\\shell\\open\\command", "");
  EXPECT_EQ(r.open, ERROR_SUCCESS);
  EXPECT_EQ(r.query, ERROR_FILE_NOT_FOUND) << "the key has no default value";
  std::remove(hive.c_str());
  EXPECT_EQ(ReadValue("Software\\Classes\\Raw", "").open, ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, ValueLongerThanTheBufferIsNotRead) {
  Read r =
      ReadValue("Software\\Classes\\Access.Application.11\\shell\\open\\command", "", 0x2003F, 10);
  EXPECT_EQ(r.query, ERROR_MORE_DATA);
  EXPECT_EQ(r.size, 74u) << "the size the value needs, with its NUL";
}

TEST_F(RegistryTest, WriteRightsNeedAWritableHive) {
  ASSERT_EQ(::chmod(hive.c_str(), 0444), 0);
  const char* key = "Software\\Classes\\Raw";
  EXPECT_EQ(ReadValue(key, "", 0x2003F).open, ERROR_ACCESS_DENIED);
  EXPECT_EQ(ReadValue(key, "", KEY_QUERY_VALUE).open, ERROR_SUCCESS);
  ASSERT_EQ(::chmod(hive.c_str(), 0644), 0);
  EXPECT_EQ(ReadValue(key, "", 0x2003F).open, ERROR_SUCCESS);
}

TEST_F(RegistryTest, HiveIsReadAfreshAtEveryOpen) {
  const char* key = "Software\\Classes\\Access.Application.11\\shell\\open\\command";
  EXPECT_EQ(ReadValue(key, "").open, ERROR_SUCCESS);
  std::ofstream(hive) << "WINE REGISTRY Version 2\n";
  EXPECT_EQ(ReadValue(key, "").open, ERROR_FILE_NOT_FOUND);
}

}  // namespace
