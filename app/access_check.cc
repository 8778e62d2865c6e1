#include "app/access_check.h"

#include <vector>

#include "platform/error.h"
#include "platform/text.h"
#include "platform/ui/message_box.h"

std::string gsAccessPath;

namespace {

// The 1-based position of `needle` in `text`, ignoring letter case; 0 when
// it does not occur.
size_t InStrText(const std::string& text, const std::string& needle) {
  for (size_t i = 0; i + needle.size() <= text.size(); ++i) {
    bool match = true;
    for (size_t j = 0; j < needle.size() && match; ++j) {
      match = kav::FoldCase(text[i + j]) == kav::FoldCase(needle[j]);
    }
    if (match) return i + 1;
  }
  return 0;
}

// Closes the key however the read ends, also when the open failed.
class KeyCloser {
 public:
  explicit KeyCloser(HKEY& key) : key_(key) {}
  ~KeyCloser() { RegCloseKey(key_); }

 private:
  HKEY& key_;
};

}  // namespace

bool ReadAccessCommandPath(HKEY hKey, const std::string& sSubKey, const std::string& sValueName,
                           std::string& sPath) {
  HKEY hSubKey = 0;
  KeyCloser closer(hSubKey);
  if (RegOpenKeyExA(hKey, sSubKey.c_str(), 0, 0x2003F, &hSubKey) != ERROR_SUCCESS) {
    sPath.clear();
    return false;
  }
  std::vector<uint8_t> buffer(1024, 0);
  DWORD size = 1024;
  DWORD type = 0;
  if (RegQueryValueExA(hSubKey, sValueName.c_str(), nullptr, &type, buffer.data(), &size) !=
      ERROR_SUCCESS) {
    sPath.clear();
    return false;
  }
  std::string text(buffer.begin(), buffer.end());
  size_t nul = text.find('\0');
  if (nul == std::string::npos) {
    throw kav::Error(5, "Invalid procedure call or argument", "ReadAccessCommandPath");
  }
  text.resize(nul);
  // Up to the last letter of "MSACCESS.EXE", without the first character
  // (the opening quote of the usual quoted command).  Without the name this
  // leaves characters 2 to 11, so any command of two or more characters
  // counts as found.
  std::string head = text.substr(0, InStrText(text, "MSACCESS.EXE") + 11);
  sPath = head.size() > 1 ? head.substr(1) : std::string();
  return true;
}

void FindAccess() {
  try {
    for (const char* key : {"SOFTWARE\\classes\\Access.Application.11\\shell\\open\\command",
                            "SOFTWARE\\classes\\Access.Application.10\\shell\\open\\command",
                            "SOFTWARE\\classes\\Access.Application.9\\shell\\open\\command"}) {
      std::string sPath;
      ReadAccessCommandPath(HKEY_LOCAL_MACHINE, key, "", sPath);
      gsAccessPath = sPath;
      if (!gsAccessPath.empty()) break;
    }
  } catch (const kav::Error& error) {
    ui::MsgBox("Following error occurred: " + error.description() + "\n" +
               "If error persists call your KAV support person for help. ");
  }
}
