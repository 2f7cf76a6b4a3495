#include "resources/packageresources.h"

#include <algorithm>
#include <cstdio>
#include <set>

#include "platform/files.h"
#include "resources/iconfile.h"
#include "resources/version.h"

namespace kelvane {

namespace {

constexpr std::uint16_t englishus = 1033;
constexpr std::int64_t largestprogram = std::int64_t(1) << 31;

bool fail(std::string& error, std::string reason) {
  error = std::move(reason);
  return false;
}

// The first icon group, or a new one (group 1, English) appended.
resource& firstgroup(std::vector<resource>& resources) {
  for (resource& r : resources)
    if (r.type == resourceid::of(rtgroupicon)) return r;
  resources.push_back({resourceid::of(rtgroupicon), resourceid::of(1), englishus, 0, {}});
  return resources.back();
}

bool seticon(std::vector<resource>& resources, const iconfile& icon, std::string& error) {
  resource& group = firstgroup(resources);
  const std::uint16_t language = group.language;
  // Images still named by another group stay; the others are dropped. When
  // another group cannot be read, no one can tell which it names: all stay.
  std::set<std::uint16_t> kept;
  bool keepall = false;
  for (const resource& r : resources)
    if (r.type == resourceid::of(rtgroupicon) && !(&r == &group)) {
      std::vector<std::uint16_t> ids = icongroupids(r.data);
      keepall = keepall || ids.empty();
      kept.insert(ids.begin(), ids.end());
    }
  if (keepall)
    for (const resource& r : resources)
      if (r.type == resourceid::of(rticon) && !r.name.named) kept.insert(r.name.number);
  iconplan plan;
  if (!planicon(icon, kept, plan, error)) return false;
  group.data = plan.group;
  std::erase_if(resources, [&](const resource& r) {
    return r.type == resourceid::of(rticon) && !(r.name.named || kept.count(r.name.number));
  });
  for (std::size_t i = 0; i < plan.ids.size(); ++i)
    resources.push_back({resourceid::of(rticon), resourceid::of(plan.ids[i]), language, 0, icon.images[i]});
  return true;
}

void setversion(std::vector<resource>& resources, const resource& version) {
  bool replaced = false;
  for (resource& r : resources)
    if (r.type == resourceid::of(rtversion)) {
      r.data = version.data;
      replaced = true;
    }
  if (!replaced) resources.push_back({version.type, version.name, version.language, 0, version.data});
}

// Reads an open file whole and closes it.
bool readwhole(std::FILE* f, std::vector<unsigned char>& bytes) {
  std::int64_t size = fs::filesize(f);
  bool ok = size >= 0 && fs::seek(f, 0, SEEK_SET);
  if (ok) {
    bytes.resize(static_cast<std::size_t>(size));
    ok = std::fread(bytes.data(), 1, bytes.size(), f) == bytes.size();
  }
  std::fclose(f);
  return ok;
}

void say(const std::string& line) {
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

// The first version resource among a program's resources, checked.
bool firstversion(std::vector<resource>& resources, resource& version, bool& found, std::string& error) {
  found = false;
  for (resource& r : resources)
    if (r.type == resourceid::of(rtversion)) {
      std::string problem = checkversionresource(
          std::string_view(reinterpret_cast<const char*>(r.data.data()), r.data.size()));
      if (!problem.empty()) return fail(error, problem);
      version = std::move(r);
      found = true;
      return true;
    }
  return true;
}

}  // namespace

bool findversionresource(const std::vector<unsigned char>& program, resource& version, bool& found,
                         std::string& error) {
  found = false;
  std::vector<resource> resources;
  return readresources(program.data(), program.size(), resources, error) &&
         firstversion(resources, version, found, error);
}

bool setpackageresources(std::vector<unsigned char>& image, const std::vector<unsigned char>* ico,
                         const std::vector<unsigned char>* versionsource, std::string& error) {
  std::vector<resource> resources;
  if (!readresources(image.data(), image.size(), resources, error)) return false;
  if (ico) {
    iconfile icon;
    if (!parseiconfile(ico->data(), ico->size(), icon, error) || !seticon(resources, icon, error)) return false;
  }
  if (versionsource) {
    resource version;
    bool found = false;
    if (!findversionresource(*versionsource, version, found, error)) return false;
    if (found) setversion(resources, version);
  }
  return writeresources(image, std::move(resources), error);
}

bool preparepackageimage(std::vector<unsigned char>& image, const std::string& iconpath,
                         const std::string& setupprogram, std::string& error) {
  std::vector<unsigned char> ico, program;
  bool useicon = false, useversion = false;
  std::FILE* icon = fs::openfile(iconpath, "rb");
  if (!icon) {
    say("Open IconFile Failed!");
  } else {
    iconfile parsed;
    std::string why;
    useicon = readiconbytes(icon, ico, why) && parseiconfile(ico.data(), ico.size(), parsed, why);
    std::fclose(icon);
    if (!useicon) say("Bad IconFile: " + why);
  }
  // The setup program is read whole: it travels in the package, so it is
  // below the package's 2 GiB anyway; a larger one is left to the builder's
  // own size check, which stops the build.
  std::int64_t setupsize = fs::pathsize(setupprogram);
  std::FILE* setup = setupsize >= 0 && setupsize < largestprogram ? fs::openfile(setupprogram, "rb") : nullptr;
  if (setup) {
    std::vector<resource> resources;
    resource version;
    bool found = false;
    std::string why;
    if (!readwhole(setup, program) || !readresources(program.data(), program.size(), resources, why))
      say("Bad VersionResource: " + setupprogram + " is not a program whose resources can be read");
    else if (!firstversion(resources, version, found, why))
      say("Bad VersionResource: " + why);
    else
      useversion = found;
  }
  return setpackageresources(image, useicon ? &ico : nullptr, useversion ? &program : nullptr, error);
}

}  // namespace kelvane
