#include "package/setupentries.h"

#include "common/log.h"
#include "package/dataunzip.h"
#include "platform/text.h"

namespace kelvane {

namespace {

constexpr int stored = 0;
constexpr int deflated = 8;

// Win32 drops a level's trailing dots and spaces: "a.txt. " opens "a.txt".
std::string windowslevel(std::string level) {
  while (!level.empty() && (level.back() == '.' || level.back() == ' ')) level.pop_back();
  return level;
}

// The name Windows would open for the first `count` levels, folded.
std::u16string windowsname(const std::vector<std::string>& levels, std::size_t count) {
  std::string joined;
  for (std::size_t i = 0; i < count; ++i) joined += (i ? "\\" : "") + windowslevel(levels[i]);
  return foldname(towide(joined));
}

}  // namespace

const char* describe(entryverdict verdict) {
  switch (verdict) {
    case entryverdict::write: return "written";
    case entryverdict::hostile: return "a name that could leave the workspace";
    case entryverdict::outside: return "not in the setup folder";
    case entryverdict::method: return "stored with a method that is not read";
    case entryverdict::shortname: return "a level shaped like a Windows short name";
    case entryverdict::samefile: return "the same file as an earlier entry on Windows";
  }
  return "";
}

bool isshortname(const std::string& given) {
  std::string level = windowslevel(given);
  std::size_t dot = level.find('.');
  if (dot != std::string::npos && level.find('.', dot + 1) != std::string::npos) return false;  // one dot at most
  std::string base = level.substr(0, dot);
  std::size_t extension = dot == std::string::npos ? 0 : level.size() - dot - 1;
  if (base.empty() || base.size() > 8 || extension > 3) return false;
  std::size_t tilde = base.find('~');
  return tilde != std::string::npos && tilde + 1 < base.size() && base[tilde + 1] >= '0' && base[tilde + 1] <= '9';
}

entryverdict setupentries::admit(const std::string& name, int method) {
  std::vector<std::string> levels;
  bool isfolder = false;
  if (!splitentryname(name, levels, isfolder)) return entryverdict::hostile;
  // The setup folder by its one exact name: "Setup\" or "setup/" would be
  // another folder on a case-sensitive disk, "SETUP~1\" perhaps another one
  // on Windows.
  if (name.compare(0, 6, "setup\\") != 0) return entryverdict::outside;
  if (method != stored && method != deflated) return entryverdict::method;
  for (const auto& level : levels)
    if (isshortname(level)) return entryverdict::shortname;
  // Every folder on the way must not have been a file, and a file must be new.
  std::size_t folders = isfolder ? levels.size() : levels.size() - 1;
  for (std::size_t i = 1; i <= folders; ++i) {
    auto met = named_.find(windowsname(levels, i));
    if (met != named_.end() && !met->second) return entryverdict::samefile;
  }
  if (!isfolder && named_.count(windowsname(levels, levels.size()))) return entryverdict::samefile;
  for (std::size_t i = 1; i <= folders; ++i) named_.emplace(windowsname(levels, i), true);
  if (!isfolder) named_.emplace(windowsname(levels, levels.size()), false);
  return entryverdict::write;
}

bool extractsetupentries(dataunzip& reader, const std::string& folder) {
  entrywriter writer(folder);
  setupentries entries;
  bool whole = true;
  for (std::uint32_t i = 0; i < reader.count(); ++i) {
    std::string name;
    entryverdict verdict = entryverdict::write;
    if (reader.entryname(name) != 0) {
      KLOG("unzipthread", "entry %u has no readable header\n", i);
      whole = false;
    } else if ((verdict = entries.admit(name, reader.entrymethod())) != entryverdict::write) {
      KLOG("unzipthread", "entry %u is refused, %s: <%s>\n", i, describe(verdict), name.c_str());
      whole = false;
    } else if (!writer.begin(name)) {
      whole = false;
    } else {
      int read = reader.readentry([&writer](const char* data, std::size_t n) { return writer.write(data, n); });
      if (read != 0) KLOG("unzipthread", "entry %u cannot be read: <%s>\n", i, name.c_str());
      whole = writer.end(read == 0) && whole;
    }
    if (reader.nextfile(i) != 0) return false;
  }
  return writer.finish() && whole;  // the last files' closes
}

}  // namespace kelvane
