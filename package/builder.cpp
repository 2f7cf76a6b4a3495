#include "package/builder.h"

#include <vector>

#include "package/datamd5.h"
#include "package/datazip.h"
#include "package/filelist.h"
#include "package/layout.h"
#include "package/peimage.h"
#include "package/treecheck.h"
#include "platform/files.h"
#include "platform/text.h"
#include "resources/packageresources.h"

namespace kelvane {

namespace {

constexpr std::int64_t positionlimit = std::int64_t(1) << 31;  // trailer offsets are signed 32-bit positions

// Copies `from`, from where it stands to its end, onto `to`. Large reads and
// writes: the archives are most of the package, and under wine each call
// costs far more than the copying itself.
bool copystream(std::FILE* from, std::FILE* to) {
  std::vector<char> buffer(std::size_t(1) << 20);
  std::size_t n = 0;
  while ((n = std::fread(buffer.data(), 1, buffer.size(), from)) > 0)
    if (std::fwrite(buffer.data(), 1, n, to) != n) return false;
  return !std::ferror(from);
}

// The package starts with the stub's unsigned image: the bytes before a
// certificate table that the vendor's signing appended (in builder mode the
// stub's 1950720 bytes), read whole so that its resources can be rewritten.
bool readunsigned(std::FILE* stub, std::vector<unsigned char>& image) {
  std::int64_t size = certificatestart(stub);
  if (size < 0 || !fs::seek(stub, 0, SEEK_SET)) return false;
  image.resize(static_cast<std::size_t>(size));
  return std::fread(image.data(), 1, image.size(), stub) == image.size();
}

// One archive from one folder. A folder that does not exist gives an empty
// archive; one that exists but cannot be walked completely is a failure.
// Every name of both folders that cannot be archived, listed before the
// build starts, so that one run names them all. Totals for a progress line.
bool treeacceptable(const buildoptions& options, treereport& report) {
  for (const char* folder : {"app", "setup"}) checktree(folder, options.codepage, report);
  for (const std::string& refused : report.refused) std::printf("Refused %s\n", refused.c_str());
  return report.refused.empty();
}

bool writearchive(datazip& writer, const std::string& archive, const std::string& folder) {
  writer.setzipname(archive);
  bool opened = writer.zipfopen();
  bool walked = filelist().GetAllFileInfoAndZip(folder, writer);
  if (!walked) {
    std::vector<fs::direntry> entries;
    walked = !fs::listfolder(folder, entries) && !fs::isfolder(folder);
  }
  bool closed = writer.closezipfile();
  if (!(opened && walked && closed)) std::printf("Archive %s of %s is incomplete!\n", archive.c_str(), folder.c_str());
  return opened && walked && closed;
}

// A program file whose data is exactly the stub's length runs as the builder
// (signing pads to a multiple of 8 first). The package's image is shorter
// than the stub, so its archives could make it that long: then 8 zero bytes
// after the image (part of the stub piece, before setup_offset) keep it apart.
bool keepapartfromstub(std::FILE* package, std::FILE* setup, std::FILE* app) {
  std::int64_t length = fs::tell(package) + fs::filesize(setup) + fs::filesize(app) + trailersize;
  if ((length + 7) / 8 * 8 != stubsize) return true;
  const char zeros[8] = {};
  return fs::seek(package, 0, SEEK_END) && std::fwrite(zeros, 1, sizeof zeros, package) == sizeof zeros;
}

class packagebuild {
 public:
  packagebuild(std::FILE* ownfile, const buildoptions& options)
      : own_(ownfile), packagename_(options.output), options_(options) {}
  ~packagebuild() {
    for (std::FILE* f : {own_, package_, setup_, app_})
      if (f) std::fclose(f);
  }

  int run(const ui::monitor& screen);

 private:
  int fail(const char* format, const char* name);
  bool archivesfit();

  std::FILE* own_ = nullptr;
  const std::string packagename_;
  const buildoptions& options_;
  std::FILE* package_ = nullptr;
  std::FILE* setup_ = nullptr;
  std::FILE* app_ = nullptr;
  bool started_ = false;  // "install_test.exe" has been created
};

int packagebuild::fail(const char* format, const char* name) {
  std::printf(format, name);
  if (package_) std::fclose(package_);
  package_ = nullptr;
  if (started_) fs::removefile(packagename_);
  ui::hidewaiting();
  return -1;
}

// Both trailer offsets and the trailer's own position must stay below 2 GiB.
bool packagebuild::archivesfit() {
  std::int64_t stub = fs::filesize(package_), setup = fs::filesize(setup_), app = fs::filesize(app_);
  return stub >= 0 && setup >= 0 && app >= 0 && stub + setup + app < positionlimit;
}

int packagebuild::run(const ui::monitor& screen) {
  const std::string archivefolder = options_.archivefolder.empty() ? tonarrow(fs::temppath()) : options_.archivefolder;
  const std::string apppath = archivefolder + "test.zip", setuppath = archivefolder + "qlib.zip";
  const char* packagename = packagename_.c_str();

  treereport tree;
  if (!treeacceptable(options_, tree)) return fail("Build of %s stopped.\n", packagename);
  if (options_.progress) options_.progress->begin(tree.files, tree.bytes);

  package_ = fs::openfile(packagename, "wb");
  if (!package_) return fail("Open %s failed!\n", packagename);
  started_ = true;
  ui::showwaiting(screen);

  // The loader icon and the setup program's version resource, written by our
  // own resource writer, which also drops the certificate table's pointer,
  // the checksum and the stub's zero padding (resources/peresources.h). An
  // icon or version resource that cannot be used is reported there and the
  // package keeps the stub's; a stub whose image cannot be rewritten stops
  // the build.
  std::vector<unsigned char> image;
  if (!readunsigned(own_, image)) return fail("Read of the stub for %s failed!\n", packagename);
  std::string error;
  if (!preparepackageimage(image, "setup/LoaderIcon.ico", "setup/qSetup.exe", error)) {
    std::printf("The stub's resources cannot be rewritten: %s\n", error.c_str());
    return fail("Build of %s stopped.\n", packagename);
  }
  bool written = std::fwrite(image.data(), 1, image.size(), package_) == image.size();
  int closed = std::fclose(package_);
  package_ = nullptr;
  if (!written || closed != 0) return fail("Write %s failed!\n", packagename);

  datazip writer;
  writer.setcodepage(options_.codepage);
  writer.setprogress(options_.progress);
  bool archived = writearchive(writer, apppath, "app") && writearchive(writer, setuppath, "setup");
  if (options_.progress) options_.progress->end();
  if (!archived) return fail("Build of %s stopped.\n", packagename);

  package_ = fs::openfile(packagename, "ab+");
  if (!package_) return fail("Open %s failed!\n", packagename);
  app_ = fs::openfile(apppath, "rb");
  if (!app_) return fail("fopen %s failed!\n", "test.zip");
  setup_ = fs::openfile(setuppath, "rb");
  if (!setup_) return fail("fopen %s failed!\n", "qlib.zip");
  if (!archivesfit()) return fail("%s would reach 2 GiB: its trailer cannot describe it.\n", packagename);

  packagetrailer trailer;
  char setupdigest[33], appdigest[33];
  fs::seek(package_, 0, SEEK_END);
  bool ok = keepapartfromstub(package_, setup_, app_);
  trailer.setup_offset = static_cast<std::uint32_t>(fs::tell(package_));
  ok = ok && copystream(setup_, package_);
  trailer.app_offset = static_cast<std::uint32_t>(fs::tell(package_));
  ok = ok && copystream(app_, package_);
  datamd5 md5;
  ok = ok && md5.filemd5(setup_, setupdigest) == 0 && md5.filemd5(app_, appdigest) == 0;
  if (!ok) return fail("Write %s failed!\n", packagename);
  std::copy(setupdigest, setupdigest + digestlength, trailer.setup_digest.begin());
  std::copy(appdigest, appdigest + digestlength, trailer.app_digest.begin());

  auto bytes = trailer.encode();
  ok = std::fwrite(bytes.data(), 1, bytes.size(), package_) == bytes.size();
  ok = std::fclose(package_) == 0 && ok;
  package_ = nullptr;
  if (!ok) return fail("Write %s failed!\n", packagename);
  ui::hidewaiting();
  return 0;
}

}  // namespace

int buildpackage(std::FILE* ownfile, const ui::monitor& screen, const buildoptions& options) {
  // The folder's own files are reached by relative names, as the archives
  // store them; every other path is taken as given or made whole first.
  const std::string saved = fs::currentfolder();
  buildoptions inside = options;
  if (!options.archivefolder.empty()) inside.archivefolder = fs::absolutepath(options.archivefolder);
  if (!options.folder.empty()) {
    inside.output = fs::absolutepath(fs::joinpath(options.folder, options.output));
    if (!fs::changefolder(options.folder)) {
      std::printf("Folder %s cannot be entered!\n", options.folder.c_str());
      if (ownfile) std::fclose(ownfile);
      return -1;
    }
  }
  int result = packagebuild(ownfile, inside).run(screen);
  if (!options.folder.empty()) fs::changefolder(saved);
  return result;
}

}  // namespace kelvane
