#include "loader/buildcommand.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>

#include "loader/startup.h"
#include "package/builder.h"
#include "package/datazip.h"
#include "platform/files.h"
#include "platform/ui.h"

namespace kelvane {

namespace {

const char* const usage =
    "Usage: kelvane build [FOLDER] [--stub FILE] [--output FILE] [--codepage N]\n"
    "\n"
    "Writes the package that kelvane.exe's builder mode writes in FOLDER (default:\n"
    "the current folder) from its folders \"app\" and \"setup\" and its icon\n"
    "\"setup/LoaderIcon.ico\", byte for byte the same.\n"
    "\n"
    "  --stub FILE      the bare stub to copy (default: kelvane.exe beside this program)\n"
    "  --output FILE    the package (default: install_test.exe in FOLDER)\n"
    "  --codepage N     the Windows code page of the names stored in the archives,\n"
    "                   the ANSI code page of the machines that install (default: 1252)\n"
    "  --help           this text\n"
    "\n"
    "Names that Windows cannot hold or the code page cannot store are refused.\n"
    "Exit codes: 0 the package was written; 1 the build failed and left no package;\n"
    "2 the command line is wrong; 3 the stub cannot be read or is not a bare stub.\n";

// One line, rewritten in place, instead of a log line per file.
class progressline : public archiveprogress {
 public:
  void begin(std::uint64_t files, std::uint64_t bytes) override {
    files_ = files;
    bytes_ = bytes;
    show();
  }
  void entrywritten(std::uint64_t bytes) override {
    ++donefiles_;
    donebytes_ += bytes;
    // About a hundred updates in all, and every file of a few.
    if (donefiles_ == files_ || donebytes_ >= nextbytes_ || donefiles_ % 64 == 0) show();
  }
  void end() override {
    if (shown_) std::fputs("\n", stdout);
    shown_ = false;
  }

 private:
  void show() {
    std::printf("\r%" PRIu64 " of %" PRIu64 " files, %.1f of %.1f MB", donefiles_, files_, donebytes_ / 1e6, bytes_ / 1e6);
    std::fflush(stdout);
    nextbytes_ = donebytes_ + bytes_ / 100 + 1;
    shown_ = true;
  }
  std::uint64_t files_ = 0, bytes_ = 0, donefiles_ = 0, donebytes_ = 0, nextbytes_ = 0;
  bool shown_ = false;
};

bool parsecodepage(const std::string& text, unsigned& codepage) {
  char* end = nullptr;
  unsigned long n = std::strtoul(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || n == 0 || n > 65535) return false;
  codepage = static_cast<unsigned>(n);
  return true;
}

// kelvane.exe in the folder of this program.
std::string defaultstub() {
  std::string own = fs::ownexecutable();
  std::size_t slash = own.find_last_of("/\\");
  return slash == std::string::npos ? std::string() : own.substr(0, slash + 1) + "kelvane.exe";
}

}  // namespace

bool isbuildcommand(const std::vector<std::string>& args) {
  return args.size() >= 2 && (args[1] == "build" || args[1] == "--help" || args[1] == "-h");
}

int buildcommand(const std::vector<std::string>& args) {
  buildoptions options;
  options.codepage = 1252;
  std::string stub, folder, output;
  if (args.size() < 2 || args[1] != "build") {
    std::fputs(usage, stdout);
    return args.size() >= 2 && (args[1] == "--help" || args[1] == "-h") ? buildwritten : buildusage;
  }
  for (std::size_t i = 2; i < args.size(); ++i) {
    const std::string& a = args[i];
    bool valued = a == "--stub" || a == "--output" || a == "--codepage";
    if (a == "--help" || a == "-h") {
      std::fputs(usage, stdout);
      return buildwritten;
    }
    if (valued && i + 1 >= args.size()) {
      std::fprintf(stderr, "kelvane: %s needs a value\n%s", a.c_str(), usage);
      return buildusage;
    }
    if (a == "--stub") stub = args[++i];
    else if (a == "--output") output = args[++i];
    else if (a == "--codepage") {
      if (!parsecodepage(args[++i], options.codepage)) {
        std::fprintf(stderr, "kelvane: %s is not a code page number\n", args[i].c_str());
        return buildusage;
      }
    } else if (a.size() > 1 && a[0] == '-') {
      std::fprintf(stderr, "kelvane: unknown option %s\n%s", a.c_str(), usage);
      return buildusage;
    } else if (folder.empty()) {
      folder = a;
    } else {
      std::fprintf(stderr, "kelvane: one folder only (%s and %s given)\n", folder.c_str(), a.c_str());
      return buildusage;
    }
  }
  if (stub.empty()) stub = defaultstub();
  options.folder = folder.empty() ? "." : folder;
  // An output given on the command line is relative to where the command runs.
  if (!output.empty()) options.output = fs::absolutepath(output);

  std::FILE* stubfile = fs::openfile(stub, "rb");
  if (!stubfile) {
    std::fprintf(stderr, "kelvane: the stub %s cannot be read (--stub names it)\n", stub.c_str());
    return buildnostub;
  }
  if (!isstub(stubfile)) {
    std::fclose(stubfile);
    std::fprintf(stderr, "kelvane: %s is not a bare stub (a kelvane.exe of its release)\n", stub.c_str());
    return buildnostub;
  }
  progressline progress;
  if (ui::outputisterminal()) options.progress = &progress;
  // The archives are written into a folder of this run's own and removed with
  // it, so that builds running side by side (a CI's jobs) never share them.
  options.archivefolder = fs::maketempfolder();
  if (options.archivefolder.empty()) {
    std::fclose(stubfile);
    std::fprintf(stderr, "kelvane: no temporary folder can be made\n");
    return buildfailed;
  }
  int built = buildpackage(stubfile, {}, options);
  for (const char* name : {"test.zip", "qlib.zip"}) fs::removefile(options.archivefolder + name);
  fs::removefolder(options.archivefolder);
  return built == 0 ? buildwritten : buildfailed;
}

}  // namespace kelvane
