#include "platform/registry/registry.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/text.h"

namespace registry {

namespace {

struct RegValue {
  DWORD type = REG_NONE;
  std::vector<uint8_t> data;
};

using Key = std::map<std::string, RegValue>;  // by lower-case value name

std::string Lower(std::string s) { return kav::FoldCase(std::move(s)); }

// Reads a quoted string starting at text[pos] == '"'; returns its
// characters with the hive's escapes resolved and moves pos past the
// closing quote.
std::optional<std::string> QuotedString(const std::string& text, size_t& pos) {
  if (pos >= text.size() || text[pos] != '"') return std::nullopt;
  std::string out;
  for (++pos; pos < text.size(); ++pos) {
    char c = text[pos];
    if (c == '"') {
      ++pos;
      return out;
    }
    if (c != '\\' || pos + 1 >= text.size()) {
      out += c;
      continue;
    }
    char e = text[++pos];
    switch (e) {
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      case 't':
        out += '\t';
        break;
      case '0':
        out += '\0';
        break;
      case 'x': {
        // \xHHHH: a UTF-16 code unit in hexadecimal, written as UTF-8.
        unsigned code = 0;
        int digits = 0;
        while (digits < 4 && pos + 1 < text.size() &&
               std::isxdigit(static_cast<unsigned char>(text[pos + 1]))) {
          code = code * 16 + std::stoi(std::string(1, text[++pos]), nullptr, 16);
          ++digits;
        }
        if (code < 0x80) {
          out += static_cast<char>(code);
        } else if (code < 0x800) {
          out += static_cast<char>(0xC0 | (code >> 6));
          out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
          out += static_cast<char>(0xE0 | (code >> 12));
          out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
          out += static_cast<char>(0x80 | (code & 0x3F));
        }
        break;
      }
      default:
        out += e;
        break;  // \\ and \" stand for themselves
    }
  }
  return std::nullopt;  // no closing quote
}

std::vector<uint8_t> HexBytes(const std::string& list) {
  std::vector<uint8_t> bytes;
  size_t pos = 0;
  while (pos < list.size()) {
    while (pos < list.size() && !std::isxdigit(static_cast<unsigned char>(list[pos]))) ++pos;
    size_t end = pos;
    while (end < list.size() && std::isxdigit(static_cast<unsigned char>(list[end]))) ++end;
    if (end > pos)
      bytes.push_back(static_cast<uint8_t>(std::stoul(list.substr(pos, end - pos), nullptr, 16)));
    pos = end;
  }
  return bytes;
}

std::optional<RegValue> ParseData(const std::string& data) {
  RegValue value;
  size_t pos = 0;
  auto string_value = [&](DWORD type) -> std::optional<RegValue> {
    std::optional<std::string> s = QuotedString(data, pos);
    if (!s) return std::nullopt;
    value.type = type;
    value.data.assign(s->begin(), s->end());
    value.data.push_back(0);
    return value;
  };
  if (data.starts_with("\"")) return string_value(REG_SZ);
  if (data.starts_with("str(2):")) {
    pos = 7;
    return string_value(REG_EXPAND_SZ);
  }
  if (data.starts_with("dword:")) {
    uint32_t n = static_cast<uint32_t>(std::stoul(data.substr(6), nullptr, 16));
    value.type = REG_DWORD;
    for (int i = 0; i < 4; ++i) value.data.push_back(static_cast<uint8_t>(n >> (8 * i)));
    return value;
  }
  if (data.starts_with("hex:")) {
    value.type = REG_BINARY;
    value.data = HexBytes(data.substr(4));
    return value;
  }
  if (data.starts_with("hex(")) {
    size_t close = data.find("):");
    if (close == std::string::npos) return std::nullopt;
    value.type = static_cast<DWORD>(std::stoul(data.substr(4, close - 4), nullptr, 16));
    value.data = HexBytes(data.substr(close + 2));
    return value;
  }
  return std::nullopt;  // a kind of value the tool never reads
}

// The hive's keys by lower-case path with single backslashes.
std::map<std::string, Key> ReadHive(const std::string& path) {
  std::map<std::string, Key> keys;
  std::ifstream in(path, std::ios::binary);
  Key* current = nullptr;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    // A value may go on over lines that end in a backslash.
    while (!line.empty() && line.back() == '\\' && line.front() != '[') {
      std::string more;
      if (!std::getline(in, more)) break;
      line.pop_back();
      size_t start = more.find_first_not_of(" \t");
      line += start == std::string::npos ? "" : more.substr(start);
    }
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line[0] == '[') {
      size_t close = line.rfind(']');
      if (close == std::string::npos) {
        current = nullptr;
        continue;
      }
      std::string name;
      for (size_t i = 1; i < close; ++i) {
        if (line[i] == '\\' && i + 1 < close && line[i + 1] == '\\') ++i;
        name += line[i];
      }
      current = &keys[Lower(name)];
      continue;
    }
    if (current == nullptr) continue;
    size_t pos = 0;
    std::string name;
    if (line[0] == '@') {
      pos = 1;
    } else if (std::optional<std::string> quoted = QuotedString(line, pos)) {
      name = *quoted;
    } else {
      continue;
    }
    if (pos >= line.size() || line[pos] != '=') continue;
    if (std::optional<RegValue> value = ParseData(line.substr(pos + 1))) {
      (*current)[Lower(name)] = *value;
    }
  }
  return keys;
}

// Whether the user may write the hive by its permission bits.  The
// superuser's override does not count: the key's rights are its own.
bool HiveWritable(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return false;
  if (st.st_uid == ::geteuid()) return (st.st_mode & S_IWUSR) != 0;
  if (st.st_gid == ::getegid()) return (st.st_mode & S_IWGRP) != 0;
  return (st.st_mode & S_IWOTH) != 0;
}

struct OpenKey {
  Key values;
};

std::map<HKEY, OpenKey>& OpenKeys() {
  static std::map<HKEY, OpenKey> keys;
  return keys;
}

HKEY g_next_handle = 0x1000;

}  // namespace

std::string MachineHivePath() {
  const char* prefix = std::getenv("WINEPREFIX");
  if (prefix != nullptr && *prefix != '\0') return std::string(prefix) + "/system.reg";
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr ? home : "") + "/.wine/system.reg";
}

}  // namespace registry

LONG RegOpenKeyExA(HKEY hKey, const char* lpSubKey, DWORD, DWORD samDesired, HKEY* phkResult) {
  using namespace registry;
  if (phkResult == nullptr) return ERROR_INVALID_HANDLE;
  *phkResult = 0;
  if (hKey != HKEY_LOCAL_MACHINE) return ERROR_INVALID_HANDLE;
  const std::string hive = MachineHivePath();
  std::map<std::string, Key> keys = ReadHive(hive);
  std::string path = lpSubKey != nullptr ? lpSubKey : "";
  while (!path.empty() && path.back() == '\\') path.pop_back();
  auto it = keys.find(Lower(path));
  if (it == keys.end()) return ERROR_FILE_NOT_FOUND;
  const DWORD kWriteRights = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK;
  if ((samDesired & kWriteRights) != 0 && !HiveWritable(hive)) return ERROR_ACCESS_DENIED;
  HKEY handle = g_next_handle++;
  OpenKeys()[handle] = OpenKey{it->second};
  *phkResult = handle;
  return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY hKey, const char* lpValueName, DWORD* lpReserved, DWORD* lpType,
                      uint8_t* lpData, DWORD* lpcbData) {
  using namespace registry;
  if (lpReserved != nullptr) return ERROR_INVALID_HANDLE;
  auto key = OpenKeys().find(hKey);
  if (key == OpenKeys().end()) return ERROR_INVALID_HANDLE;
  auto value = key->second.values.find(Lower(lpValueName != nullptr ? lpValueName : ""));
  if (value == key->second.values.end()) return ERROR_FILE_NOT_FOUND;
  const std::vector<uint8_t>& data = value->second.data;
  if (lpType != nullptr) *lpType = value->second.type;
  if (lpcbData == nullptr) return lpData == nullptr ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
  const DWORD size = static_cast<DWORD>(data.size());
  if (lpData == nullptr) {
    *lpcbData = size;
    return ERROR_SUCCESS;
  }
  if (*lpcbData < size) {
    *lpcbData = size;
    return ERROR_MORE_DATA;
  }
  if (size > 0) std::memcpy(lpData, data.data(), size);
  *lpcbData = size;
  return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY hKey) {
  return registry::OpenKeys().erase(hKey) == 1 ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}
