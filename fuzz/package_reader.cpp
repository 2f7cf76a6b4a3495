// Arbitrary bytes after a stub, read as a package the way the extraction
// worker reads one: open, digest, every entry admitted or refused by the
// setup archive's rules and streamed to its file; then once more entry by
// entry through fileread and filewrite. Nothing may read outside the file, the
// worker's way may write nothing but the target's setup folder, and no entry
// may land outside the target folder.
#include <cstdlib>
#include <string>
#include <vector>

#include "package/dataunzip.h"
#include "package/filelist.h"
#include "package/setupentries.h"
#include "platform/environment.h"
#include "platform/files.h"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

std::string root, package, workspace, target;

bool ishex(const char* digest) {
  for (int i = 0; i < 32; ++i)
    if (!((digest[i] >= '0' && digest[i] <= '9') || (digest[i] >= 'a' && digest[i] <= 'f'))) return false;
  return digest[32] == '\0';
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  root = "/dev/shm/kelvane-fuzz-package-" + std::to_string(getpid());
  package = root + "/package.exe";
  workspace = root + "/ws";
  target = root + "/ws/target";
  kelvane::fs::makefolder(root);
  kelvane::fs::makefolder(workspace);
  kelvane::env::set("TMPDIR", workspace + "/");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
  using namespace kelvane;
  std::FILE* f = fs::openfile(package, "wb");
  std::fwrite("MZ-stub-", 1, 8, f);
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  fs::makefolder(target);

  std::string before = fs::currentfolder();
  {
    dataunzip reader;
    char setup[33], app[33];
    if (reader.unzipfopen(package, setup, app)) extractsetupentries(reader, target);
    reader.closeunzipfile();
  }
  std::vector<fs::direntry> entries;
  check(fs::listfolder(target, entries));
  for (const auto& e : entries) check(e.name == "." || e.name == ".." || e.name == "setup");
  filelist::deletepath(target);
  fs::makefolder(target);
  {
    dataunzip reader;
    char setup[33], app[33];
    if (reader.unzipfopen(package, setup, app)) {
      check(ishex(setup) && ishex(app));
      for (std::uint32_t i = 0; i < reader.count(); ++i) {
        std::string name, bytes;
        reader.fileread(name, bytes);
        dataunzip::filewrite(bytes, name, target);
        if (reader.nextfile(i) != 0) break;
      }
    } else {
      check(setup[0] == '\0' && app[0] == '\0' && reader.count() == 0);
    }
    reader.closeunzipfile();
  }
  check(fs::currentfolder() == before);

  // Only the package and the workspace with its target folder may exist.
  check(fs::listfolder(root, entries));
  for (const auto& e : entries) check(e.name == "." || e.name == ".." || e.name == "package.exe" || e.name == "ws");
  check(fs::listfolder(workspace, entries));
  for (const auto& e : entries) check(e.name == "." || e.name == ".." || e.name == "target");
  filelist::deletepath(target);
  return 0;
}
