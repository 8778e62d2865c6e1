#include "platform/registry/registry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <string_view>
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

// The number `digits` writes in hexadecimal: one or more hex digits and
// nothing else, of 32 bits at most.  Anything else is no number, so that a
// value written wrong is no value instead of an error of every look-up.
std::optional<uint32_t> HexNumber(std::string_view digits) {
  uint32_t n = 0;
  const char* end = digits.data() + digits.size();
  auto [stop, error] = std::from_chars(digits.data(), end, n, 16);
  if (error != std::errc() || stop != end) return std::nullopt;
  return n;
}

// The bytes of a comma-separated list of two-digit hex bytes, as the hive
// writes binary data ("41,42,43"; "" for none).
std::optional<std::vector<uint8_t>> HexBytes(std::string_view list) {
  std::vector<uint8_t> bytes;
  if (list.empty()) return bytes;
  for (size_t pos = 0;; ++pos) {
    const size_t comma = std::min(list.find(',', pos), list.size());
    std::string_view byte = list.substr(pos, comma - pos);
    while (!byte.empty() && (byte.front() == ' ' || byte.front() == '\t')) byte.remove_prefix(1);
    while (!byte.empty() && (byte.back() == ' ' || byte.back() == '\t')) byte.remove_suffix(1);
    std::optional<uint32_t> n = byte.size() <= 2 ? HexNumber(byte) : std::nullopt;
    if (!n) return std::nullopt;
    bytes.push_back(static_cast<uint8_t>(*n));
    if (comma == list.size()) return bytes;
    pos = comma;
  }
}

// The type number of "hex(N):" or "str(N):" at the start of `data`, and
// the position after its colon.
std::optional<std::pair<DWORD, size_t>> TypePrefix(const std::string& data,
                                                   std::string_view prefix) {
  if (!data.starts_with(prefix)) return std::nullopt;
  const size_t close = data.find("):", prefix.size());
  if (close == std::string::npos) return std::nullopt;
  std::optional<uint32_t> type =
      HexNumber(std::string_view(data).substr(prefix.size(), close - prefix.size()));
  if (!type) return std::nullopt;
  return std::pair<DWORD, size_t>{*type, close + 2};
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
  auto binary_value = [&](DWORD type, size_t start) -> std::optional<RegValue> {
    std::optional<std::vector<uint8_t>> bytes = HexBytes(std::string_view(data).substr(start));
    if (!bytes) return std::nullopt;
    value.type = type;
    value.data = std::move(*bytes);
    return value;
  };
  if (data.starts_with("\"")) return string_value(REG_SZ);
  // str(2): an expandable string, str(7): a list of strings, each ended by
  // its \0 in the text.
  if (std::optional<std::pair<DWORD, size_t>> str = TypePrefix(data, "str(")) {
    pos = str->second;
    return string_value(str->first);
  }
  if (data.starts_with("dword:")) {
    std::optional<uint32_t> n = HexNumber(std::string_view(data).substr(6));
    if (!n) return std::nullopt;
    value.type = REG_DWORD;
    for (int i = 0; i < 4; ++i) value.data.push_back(static_cast<uint8_t>(*n >> (8 * i)));
    return value;
  }
  if (data.starts_with("hex:")) return binary_value(REG_BINARY, 4);
  if (std::optional<std::pair<DWORD, size_t>> hex = TypePrefix(data, "hex(")) {
    return binary_value(hex->first, hex->second);
  }
  return std::nullopt;  // a kind of value the tool never reads, or one written wrong
}

// Closes a file descriptor on every path out of the read.
class FileCloser {
 public:
  explicit FileCloser(int fd) : fd_(fd) {}
  ~FileCloser() { ::close(fd_); }
  FileCloser(const FileCloser&) = delete;
  FileCloser& operator=(const FileCloser&) = delete;

 private:
  int fd_;
};

// The whole text of the hive file; nothing when it is no regular file
// (a FIFO would block the read until some writer came, a device such as
// /dev/zero never ends), when it is larger than kMaxHiveBytes, or when it
// cannot be read.  The type is checked on the file opened, and opening does
// not wait for a FIFO's writer, so no file put in its place meanwhile
// blocks the read.
std::optional<std::string> HiveText(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  FileCloser closer(fd);
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
      static_cast<std::uintmax_t>(st.st_size) > kMaxHiveBytes) {
    return std::nullopt;
  }
  std::string text;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n == 0) return text;
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    // A file that grows while it is read is held to the same bound.
    if (text.size() + static_cast<size_t>(n) > kMaxHiveBytes) return std::nullopt;
    text.append(buffer, static_cast<size_t>(n));
  }
}

// Splits a hive's text into lines, without their ends ("\n" or "\r\n").
class Lines {
 public:
  explicit Lines(std::string_view text) : text_(text) {}
  bool Next(std::string& line) {
    if (pos_ >= text_.size()) return false;
    const size_t end = std::min(text_.find('\n', pos_), text_.size());
    line.assign(text_.substr(pos_, end - pos_));
    pos_ = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
  }

 private:
  std::string_view text_;
  size_t pos_ = 0;
};

// The hive's keys by lower-case path with single backslashes.
// A hive that cannot be read holds no key.
std::map<std::string, Key> ReadHive(const std::string& path) {
  std::map<std::string, Key> keys;
  const std::optional<std::string> text = HiveText(path);
  if (!text) return keys;
  Lines in(*text);
  Key* current = nullptr;
  std::string line;
  while (in.Next(line)) {
    // A value may go on over lines that end in a backslash.
    while (!line.empty() && line.back() == '\\' && line.front() != '[') {
      std::string more;
      if (!in.Next(more)) break;
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

// Whether the process is in the group `gid`: its effective group, or one
// of its supplementary groups.
bool InGroup(gid_t gid) {
  if (gid == ::getegid()) return true;
  const int count = ::getgroups(0, nullptr);
  if (count <= 0) return false;
  std::vector<gid_t> groups(static_cast<size_t>(count));
  const int got = ::getgroups(count, groups.data());
  return got > 0 && std::find(groups.begin(), groups.begin() + got, gid) != groups.begin() + got;
}

// Whether the user may write the hive by its permission bits, read as the
// system reads them: the owner's bits for the owner, else the group's for a
// member of the file's group (through any of the user's groups), else the
// others'.  The superuser's override does not count: the key's rights are
// its own.
bool HiveWritable(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return false;
  if (st.st_uid == ::geteuid()) return (st.st_mode & S_IWUSR) != 0;
  if (InGroup(st.st_gid)) return (st.st_mode & S_IWGRP) != 0;
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
