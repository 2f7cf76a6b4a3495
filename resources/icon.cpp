#include "resources/icon.h"

#include <cstdio>

#include "platform/files.h"
#include "platform/text.h"
#include "resources/iconfile.h"
#include "resources/iconwriter.h"

namespace kelvane {

namespace {

void say(const std::string& line) {
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

}  // namespace

bool ReplaceExeIcon(const std::u16string& iconpath, const std::u16string& exepath) {
  std::FILE* icon = fs::openfile(tonarrow(iconpath), "rb");
  if (!icon) {
    say("Open IconFile Failed!");
    return false;
  }
  iconfile file;
  std::string error;
  bool loaded = loadiconfile(icon, file, error);
  std::fclose(icon);
  if (!loaded) {
    say("Bad IconFile: " + error);
    return false;
  }
  if (!writeiconresources(exepath, file, error)) {
    say("Replace ExeIcon Failed: " + error);
    return false;
  }
  return true;
}

}  // namespace kelvane
