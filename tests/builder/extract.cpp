// Reads a package the way the extraction worker does and writes its setup
// entries below a folder:  extract PACKAGE FOLDER
// Prints the digests, each entry's read result and whether it was written;
// exits 0 when every entry was read and written completely and the current
// folder is the one it was before.
#include <cstdio>
#include <string>

#include "package/dataunzip.h"
#include "platform/files.h"

int main(int argc, char** argv) {
  using namespace kelvane;
  if (argc != 3) return 2;
  std::string before = fs::currentfolder();
  std::string folder = argv[2];
  if (!folder.empty() && folder[0] != '/' && folder.find(':') == std::string::npos)
    folder = before + fs::separator() + folder;  // the reader works inside the workspace
  fs::makefolder(folder);

  dataunzip reader;
  char setup[33], app[33];
  bool opened = reader.unzipfopen(argv[1], setup, app);
  std::printf("opened %d setup %s app %s count %u\n", opened, setup, app, reader.count());
  bool ok = opened;
  for (std::uint32_t i = 0; i < reader.count(); ++i) {
    std::string name, data;
    int read = reader.fileread(name, data);
    bool written = dataunzip::filewrite(data, name, folder);
    std::printf("entry %s read %d written %d\n", name.c_str(), read, written);
    ok = ok && read == 0 && written;
    if (reader.nextfile(i) != 0) {
      ok = false;
      break;
    }
  }
  reader.closeunzipfile();
  bool restored = fs::currentfolder() == before;
  std::printf("restored %d\n", restored);
  return ok && restored ? 0 : 1;
}
