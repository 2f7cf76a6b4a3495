// A scratch folder of its own for each test, inside the temporary folder;
// removed with everything below it when the test ends.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/text.h"

namespace kelvane::testing {

// The whole content of a file; empty when it cannot be read.
inline std::string readbytes(const std::string& path) {
  std::string bytes;
  if (std::FILE* f = fs::openfile(path, "rb")) {
    char buffer[65536];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) bytes.append(buffer, n);
    std::fclose(f);
  }
  return bytes;
}

inline void removetree(const std::string& path) {
  std::vector<fs::direntry> entries;
  if (fs::listfolder(path, entries)) {
    for (const auto& e : entries) {
      if (e.name == "." || e.name == "..") continue;
      std::string child = path + fs::separator() + e.name;
      if (e.folder && !e.link)
        removetree(child);
      else if (!fs::removefile(child))
        fs::removefolder(child);
    }
  }
  fs::removefolder(path);
}

class scratchfolder {
 public:
  scratchfolder() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string("kelvane-test-") + (info ? info->test_suite_name() : "x") + "-" +
                       (info ? info->name() : "y");
    for (char& c : name)
      if (c == '/' || c == '\\') c = '_';
    path_ = tonarrow(fs::temppath()) + name;
    removetree(path_);
    fs::makefolder(path_);
  }
  ~scratchfolder() { removetree(path_); }

  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + fs::separator() + name; }

  // Writes bytes into a new file of the folder and returns its path.
  std::string write(const std::string& name, const std::string& bytes) const {
    std::string p = file(name);
    std::FILE* f = fs::openfile(p, "wb");
    if (f) {
      std::fwrite(bytes.data(), 1, bytes.size(), f);
      std::fclose(f);
    }
    return p;
  }

 private:
  std::string path_;
};

}  // namespace kelvane::testing
