#include "loader/startup.h"

#include <cstdio>

#include "loader/loaderwindow.h"
#include "loader/workspace.h"
#include "loader/workspacelock.h"
#include "package/builder.h"
#include "package/layout.h"
#include "package/peimage.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "platform/ui.h"
#include "splash/splash.h"

namespace kelvane {

namespace {
std::string own;  // written once, before any other thread starts
}

const std::string& ownpath() { return own; }

void passarguments(const std::vector<std::string>& args) {
  // Two or more arguments hand on both values; one argument hands on neither.
  if (args.size() > 2) {
    env::set("KZQAUTOI", args[1]);
    env::set("KZQPATHI", args[2]);
  }
}

// A vendor may sign the bare stub: its certificate table does not count. A
// size that cannot be measured counts as a package.
bool isstub(std::FILE* ownfile) {
  bool stub = certificatestart(ownfile) == stubsize;
  fs::seek(ownfile, 0, SEEK_SET);
  return stub;
}

int startup(const std::vector<std::string>& args) {
  passarguments(args);
  splash::startup();
  splash::LoadSplashImages();
  ui::monitor screen = ui::openingmonitor();
  own = args.empty() ? std::string() : args[0];

  std::FILE* ownfile = fs::openfile(own, "rb");
  if (!ownfile) {
    std::fputs("Open file failed\n", stdout);
    return -1;
  }
  if (isstub(ownfile)) return buildpackage(ownfile, screen);

  std::fclose(ownfile);
  // Another loader may be installing from the same workspace: wait or end.
  if (!takeworkspace(!unattended(static_cast<int>(args.size())))) return -1;
  intitemp();
  return runloader(static_cast<int>(args.size()));
}

}  // namespace kelvane
