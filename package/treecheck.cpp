#include "package/treecheck.h"

#include <map>

#include "package/filelist.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/text.h"

namespace kelvane {

namespace {

// Device names, with or without an extension ("nul.tar.gz" is NUL), in any
// letter case; superscript digits count as digits for COM and LPT.
bool devicename(const std::string& name) {
  std::string stem = name.substr(0, name.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  stem = foldedcase(stem);
  for (const char* device : {"CON", "PRN", "AUX", "NUL"})
    if (stem == device) return true;
  if (stem.size() < 4 || (stem.compare(0, 3, "COM") != 0 && stem.compare(0, 3, "LPT") != 0)) return false;
  std::string digit = stem.substr(3);
  return (digit.size() == 1 && digit[0] >= '0' && digit[0] <= '9') || digit == "\xC2\xB9" || digit == "\xC2\xB2" ||
         digit == "\xC2\xB3";
}

void walk(const std::string& folder, unsigned codepage, treereport& report) {
  std::vector<fs::direntry> entries;
  if (!fs::listfolder(fs::nativepath(folder), entries)) return;
  filelist::archiveorder(entries);  // so the later of two clashing names is the one named
  std::map<std::string, std::string> folded;  // case-insensitive form -> first name
  for (const auto& entry : entries) {
    if (entry.name == "." || entry.name == "..") continue;
    std::string path = folder + "\\" + entry.name;
    std::string fault = windowsnamefault(entry.name), stored;
    if (fault.empty() && !narrowtocodepage(path, codepage, stored))
      fault = "does not fit the archive's code page " + std::to_string(codepage ? codepage : codepage::ansicodepage());
    auto [other, fresh] = folded.emplace(foldedcase(entry.name), entry.name);
    if (fault.empty() && !fresh) fault = "differs only in letter case from " + other->second;
    if (!fault.empty()) report.refused.push_back(path + ": " + fault);
    if (entry.folder && entry.link) continue;  // not followed, as by the archive walk
    if (entry.folder) {
      walk(path, codepage, report);
    } else {
      std::int64_t size = fs::pathsize(fs::nativepath(path));
      ++report.files;
      if (size > 0) report.bytes += static_cast<std::uint64_t>(size);
    }
  }
}

}  // namespace

std::string windowsnamefault(const std::string& name) {
  for (unsigned char c : name) {
    if (c < 32) return "holds a control character";
    if (std::string_view("<>:\"/\\|?*").find(static_cast<char>(c)) != std::string_view::npos)
      return std::string("holds the character ") + static_cast<char>(c);
  }
  if (!name.empty() && (name.back() == '.' || name.back() == ' ')) return "ends with a dot or a space";
  if (devicename(name)) return "is a device name on Windows";
  return {};
}

std::string foldedcase(const std::string& name) {
  std::u16string wide = towide(name);
  if (wide.empty() && !name.empty()) return name;
  return tonarrow(foldname(wide));
}

void checktree(const std::string& folder, unsigned codepage, treereport& report) { walk(folder, codepage, report); }

}  // namespace kelvane
