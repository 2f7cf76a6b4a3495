#include "package/builder.h"

#include <vector>

#include "package/datamd5.h"
#include "package/datazip.h"
#include "package/filelist.h"
#include "package/layout.h"
#include "package/peimage.h"
#include "platform/files.h"
#include "platform/text.h"
#include "resources/icon.h"
#include "resources/version.h"

namespace kelvane {

namespace {

const char* const packagename = "install_test.exe";
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
// stub's 1950720 bytes), with neither a pointer to that table nor its stale
// checksum, so that the finished package can be signed afresh.
bool copyunsigned(std::FILE* stub, std::FILE* to) {
  std::int64_t size = certificatestart(stub);
  if (size < 0 || !fs::seek(stub, 0, SEEK_SET)) return false;
  std::vector<unsigned char> image(static_cast<std::size_t>(size));
  if (std::fread(image.data(), 1, image.size(), stub) != image.size()) return false;
  clearsignature(image.data(), image.size());
  return std::fwrite(image.data(), 1, image.size(), to) == image.size();
}

// One archive from one folder. A folder that does not exist gives an empty
// archive; one that exists but cannot be walked completely is a failure.
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

class packagebuild {
 public:
  explicit packagebuild(std::FILE* ownfile) : own_(ownfile) {}
  ~packagebuild() {
    for (std::FILE* f : {own_, package_, setup_, app_})
      if (f) std::fclose(f);
  }

  int run(const ui::monitor& screen, const std::string& archivefolder);

 private:
  int fail(const char* format, const char* name);
  bool archivesfit();

  std::FILE* own_ = nullptr;
  std::FILE* package_ = nullptr;
  std::FILE* setup_ = nullptr;
  std::FILE* app_ = nullptr;
  bool started_ = false;  // "install_test.exe" has been created
};

int packagebuild::fail(const char* format, const char* name) {
  std::printf(format, name);
  if (package_) std::fclose(package_);
  package_ = nullptr;
  if (started_) fs::removefile(packagename);
  ui::hidewaiting();
  return -1;
}

// Both trailer offsets and the trailer's own position must stay below 2 GiB.
bool packagebuild::archivesfit() {
  std::int64_t stub = fs::filesize(package_), setup = fs::filesize(setup_), app = fs::filesize(app_);
  return stub >= 0 && setup >= 0 && app >= 0 && stub + setup + app < positionlimit;
}

int packagebuild::run(const ui::monitor& screen, const std::string& archivefolder) {
  const std::string apppath = archivefolder + "test.zip", setuppath = archivefolder + "qlib.zip";

  package_ = fs::openfile(packagename, "wb");
  if (!package_) return fail("Open %s failed!\n", packagename);
  started_ = true;
  ui::showwaiting(screen);

  bool copied = copyunsigned(own_, package_);
  int closed = std::fclose(package_);
  package_ = nullptr;
  if (!copied || closed != 0) return fail("Write %s failed!\n", packagename);

  // An icon that cannot be replaced (no or a bad LoaderIcon.ico) is reported
  // there; the package then keeps the stub's icon.
  ReplaceExeIcon(u"setup/LoaderIcon.ico", towide(packagename));
  // The package speaks for the vendor's product: it takes the setup program's
  // version resource when there is one (a bad one is reported there and the
  // package keeps the stub's).
  CopyVersionResource(u"setup/qSetup.exe", towide(packagename));

  datazip writer;
  if (!writearchive(writer, apppath, "app")) return fail("Build of %s stopped.\n", packagename);
  if (!writearchive(writer, setuppath, "setup")) return fail("Build of %s stopped.\n", packagename);

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
  trailer.setup_offset = static_cast<std::uint32_t>(fs::tell(package_));
  bool ok = copystream(setup_, package_);
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

int buildpackage(std::FILE* ownfile, const ui::monitor& screen, const std::string& archivefolder) {
  return packagebuild(ownfile).run(screen, archivefolder);
}

int buildpackage(std::FILE* ownfile, const ui::monitor& screen) {
  return buildpackage(ownfile, screen, tonarrow(fs::temppath()));
}

}  // namespace kelvane
