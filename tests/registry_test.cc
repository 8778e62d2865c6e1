// The registry calls on a Wine hive written by the test.

#include "platform/registry/registry.h"

#include <grp.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/child_process.h"
#include "tests/support/harness.h"

namespace {

using kav::testing::ChildOutcome;
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

// The hive's permission bits are read as the system reads them: the
// owner's for its owner, else the group's for a member of its group through
// the effective group or any supplementary group, else the others'.  Each
// case runs in a child process that takes the case's groups.
TEST_F(RegistryTest, WriteRightsCountEveryGroupOfTheUser) {
  if (geteuid() != 0) GTEST_SKIP() << "taking other groups needs root";
  // A user and a group that only the hive and the child name.
  const uid_t kOtherUser = 54321;
  const gid_t kGroup = 54321, kOtherGroup = 54322;
  struct Case {
    const char* name;
    uid_t owner;
    mode_t mode;
    gid_t effective_group;
    std::vector<gid_t> groups;  // supplementary
    bool writable;
  };
  const std::vector<Case> cases = {
      {"a supplementary group", kOtherUser, 0464, 0, {kGroup}, true},
      {"one of several supplementary groups", kOtherUser, 0464, 0, {kOtherGroup, kGroup}, true},
      {"the effective group", kOtherUser, 0464, kGroup, {}, true},
      {"no group of the file's", kOtherUser, 0464, 0, {kOtherGroup}, false},
      {"a member reads the group's bits, not the others'", kOtherUser, 0446, 0, {kGroup}, false},
      {"the others' bits for a user of no group of the file's", kOtherUser, 0446, 0, {}, true},
      {"the owner reads the owner's bits", 0, 0464, 0, {kGroup}, false},
  };
  const char* key = "Software\\Classes\\Raw";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(::chown(hive.c_str(), c.owner, kGroup), 0);
    ASSERT_EQ(::chmod(hive.c_str(), c.mode), 0);
    const ChildOutcome outcome = kav::testing::RunInChild(
        [&]() -> std::string {
          if (::setgroups(c.groups.size(), c.groups.data()) != 0) return "setgroups failed";
          if (::setegid(c.effective_group) != 0) return "setegid failed";
          HKEY h = 0;
          const LONG result =
              RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &h);
          if (result == ERROR_SUCCESS) RegCloseKey(h);
          return std::to_string(result);
        },
        10);
    EXPECT_TRUE(outcome.finished) << outcome.output;
    EXPECT_EQ(outcome.output, std::to_string(c.writable ? ERROR_SUCCESS : ERROR_ACCESS_DENIED));
  }
}

// A hive as Wine writes it: "#time=" lines under each key, CRLF line ends
// (a hive copied through a Windows machine), values of any type number, and
// long binary values continued over lines that end in a backslash.
TEST_F(RegistryTest, AHiveShapedAsWineWritesItIsRead) {
  const std::string lines[] = {
      "WINE REGISTRY Version 2",
      ";; All keys relative to \\\\Machine",
      "",
      "#arch=win64",
      "",
      "[Software\\\\Classes\\\\Wine] 1700000000",
      "#time=1da1b2c3d4e5f60",
      "\"Multi\"=str(7):\"one\\0two\\0\"",
      "\"Odd\"=hex(ffff0007):41,42,\\",
      "  43,44,\\",
      "  45",
      "\"Bytes\"=hex:01,02,\\",
      "  03",
      "\"Empty\"=hex:",
      "\"Count\"=dword:0000002a",
      "@=\"last\"",
  };
  std::ofstream out(hive, std::ios::binary);
  for (const std::string& line : lines) out << line << "\r\n";
  out.close();
  struct Case {
    const char* value;
    DWORD type;
    std::string data;
  };
  const std::vector<Case> cases = {
      {"Multi", 7, std::string("one\0two\0\0", 9)},
      {"Odd", 0xffff0007, "ABCDE"},
      {"Bytes", REG_BINARY, "\x01\x02\x03"},
      {"Empty", REG_BINARY, ""},
      {"Count", REG_DWORD, std::string("\x2a\0\0\0", 4)},
      {"", REG_SZ, std::string("last") + '\0'},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    Read r = ReadValue("Software\\Classes\\Wine", c.value);
    ASSERT_EQ(r.open, ERROR_SUCCESS);
    ASSERT_EQ(r.query, ERROR_SUCCESS);
    EXPECT_EQ(r.type, c.type);
    EXPECT_EQ(r.data, c.data);
  }
}

// A number that cannot be read makes its value no value; the values beside
// it and the rest of the hive are read as before.
TEST_F(RegistryTest, AValueThatCannotBeParsedIsNoValue) {
  const std::vector<std::string> malformed = {
      "dword:zz",
      "dword:",
      "dword:" + std::string(24, '1'),
      "dword:100000000",
      "dword:2a junk",
      "hex(zz):00",
      "hex():00",
      "hex(" + std::string(17, 'f') + "):00",
      "hex(1):" + std::string(17, '4'),
      "hex:4g",
      "hex:123",
      "hex:01,,02",
      "str(zz):\"x\"",
  };
  for (const std::string& data : malformed) {
    SCOPED_TRACE(data);
    std::ofstream(hive) << kHive << "\"Bad\"=" << data << "\n\"After\"=\"kept\"\n";
    Read r = ReadValue("Software\\Classes\\Raw", "Bad");
    ASSERT_EQ(r.open, ERROR_SUCCESS);
    EXPECT_EQ(r.query, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(ReadValue("Software\\Classes\\Raw", "After").data, std::string("kept") + '\0');
    EXPECT_EQ(ReadValue("Software\\Classes\\Raw", "Count").type, REG_DWORD);
    EXPECT_EQ(ReadValue("Software\\Classes\\Access.Application.11\\shell\\open\\command", "").query,
              ERROR_SUCCESS);
  }
}

TEST_F(RegistryTest, HiveIsReadAfreshAtEveryOpen) {
  const char* key = "Software\\Classes\\Access.Application.11\\shell\\open\\command";
  EXPECT_EQ(ReadValue(key, "").open, ERROR_SUCCESS);
  std::ofstream(hive) << "WINE REGISTRY Version 2\n";
  EXPECT_EQ(ReadValue(key, "").open, ERROR_FILE_NOT_FOUND);
}

}  // namespace
