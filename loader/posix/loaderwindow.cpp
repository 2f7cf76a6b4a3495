// Loader mode without a window: the worker's steps run on the calling thread,
// then the hand-off starts the setup program and waits for it.
#include "loader/loaderwindow.h"

#include <fcntl.h>
#include <spawn.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <optional>
#include <vector>

#include "common/log.h"
#include "loader/workspace.h"
#include "loader/worker.h"
#include "platform/files.h"
#include "platform/text.h"
#include "resources/icon.h"

extern char** environ;

namespace kelvane {

namespace {

// The archive may store "qSetup.exe" in another letter case; Windows would
// find it all the same, so look it up without regard to case here too.
std::string findsetupprogram(const std::string& folder) {
  std::vector<fs::direntry> entries;
  if (fs::listfolder(folder, entries))
    for (const auto& e : entries)
      if (!e.folder && strcasecmp(e.name.c_str(), "qSetup.exe") == 0) return folder + "/" + e.name;
  return folder + "/qSetup.exe";
}

// Copies a file, refusing to replace an existing target; a copy that fails
// halfway leaves nothing under the target's name.
void copynew(const std::string& from, const std::string& to) {
  std::FILE* in = fs::openfile(from, "rb");
  if (!in) return;
  int out = open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0755);
  if (out >= 0) {
    bool copied = true;
    char buffer[65536];
    for (std::size_t n; copied && (n = std::fread(buffer, 1, sizeof buffer, in)) > 0;)
      copied = write(out, buffer, n) == static_cast<ssize_t>(n);
    copied = close(out) == 0 && copied && !std::ferror(in);
    if (!copied) unlink(to.c_str());
  }
  std::fclose(in);
}

// Starts the program and waits for it: its exit status (128 + the signal
// that ended it, as shells give it), or none when it could not be started.
std::optional<unsigned long> runandwait(const std::string& program) {
  // Archives carry no permission bits: the extracted program is made runnable.
  chmod(program.c_str(), 0755);
  char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
  pid_t child = 0;
  if (posix_spawn(&child, program.c_str(), nullptr, nullptr, argv, environ) != 0) {
    KLOG("runandwait", "cannot start <%s>\n", program.c_str());
    return std::nullopt;
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return std::nullopt;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int handoff(const loaderoptions& run, extraction outcome) {
  ending end = decideending(run, outcome);
  if (!end.startsetup) {
    KLOG("handoff", "the setup program is not started: the package was not extracted whole and intact\n");
    return end.exitcode;
  }
  std::string setup = narrowtemppath() + "setup";
  std::string program = findsetupprogram(setup);
  copynew(program, setup + "/uninstall.exe");
  ReplaceExeIcon(towide(setup + "/uninstallicon.ico"), towide(setup + "/uninstall.exe"));
  std::optional<unsigned long> code = runandwait(program);
  return decideending(run, outcome, {code ? setuprun::ran : setuprun::failed, code.value_or(0)}).exitcode;
}

}  // namespace

int runloader(const loaderoptions& options) {
  int exitcode = cannotgoon(options);
  unzipthread(options, [] {}, [&](extraction outcome) { exitcode = handoff(options, outcome); });
  return exitcode;
}

}  // namespace kelvane
