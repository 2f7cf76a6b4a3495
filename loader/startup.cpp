#include "loader/startup.h"

#include <cstdio>

#include "loader/elevatedrun.h"
#include "loader/loaderwindow.h"
#include "loader/workspace.h"
#include "loader/workspacelock.h"
#include "package/builder.h"
#include "package/layout.h"
#include "package/peimage.h"
#include "platform/elevation.h"
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

// The relaunched instance's KZQAUTOI and KZQPATHI are exactly the first
// loader's: set as they were there, absent where they were absent.
void passrelaunched(const relaunchrequest& request) {
  for (auto [name, value] : {std::pair{"KZQAUTOI", &request.autoinstall}, std::pair{"KZQPATHI", &request.installpath}})
    value->has_value() ? env::set(name, **value) : env::unset(name);
}

int startup(const std::vector<std::string>& args) {
  relaunchrequest relaunch = parserelaunch(args);
  if (relaunch.relaunched)
    passrelaunched(relaunch);
  else
    passarguments(args);
  loaderoptions options{relaunch.relaunched ? relaunch.hidden : unattended(static_cast<int>(args.size())),
                        relaunch.relaunched};
  splash::startup();
  splash::LoadSplashImages();
  ui::monitor screen = ui::openingmonitor();
  own = args.empty() ? std::string() : args[0];

  std::FILE* ownfile = fs::openfile(own, "rb");
  if (!ownfile) {
    std::fputs("Open file failed\n", stdout);
    return cannotgoon(options);
  }
  if (isstub(ownfile)) return buildpackage(ownfile, screen);

  std::fclose(ownfile);
  // Another loader may be installing: wait or end. The relaunched instance's
  // first loader holds the lock for it, and waits for it.
  if (!options.relaunched && !takeworkspace(!options.hidden)) return exitcannotgoon;
  elevation::trustnoredirection();  // before anything in the workspace is touched
  if (chooseworkspace(elevation::elevated(), options.relaunched) == workspacekind::usertemp) {
    intitemp();
    return runloader(options);
  }
  if (!takeprotectedworkspace()) return cannotgoon(options);
  int code = runloader(options);
  releaseworkspace();
  return code;
}

}  // namespace kelvane
