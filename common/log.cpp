#include "common/log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

namespace kelvane {

namespace {

// "package/datazip.cpp" or "package\datazip.cpp" -> "datazip".
std::string modulename(const char* sourcefile) {
  const char* base = sourcefile;
  for (const char* p = sourcefile; *p; ++p)
    if (*p == '/' || *p == '\\') base = p + 1;
  std::string name(base);
  if (auto dot = name.rfind('.'); dot != std::string::npos && dot > 0) name.erase(dot);
  return name;
}

}  // namespace

void logline(const char* sourcefile, const char* function, int line, const char* format, ...) {
  char stamp[128] = "";
  std::time_t now = std::time(nullptr);
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &now);
#else
  localtime_r(&now, &local);
#endif
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);

  // One write per line, so lines from different threads never interleave.
  std::string text = std::string(stamp) + " " + modulename(sourcefile) + " " + function + " " +
                     std::to_string(line) + ": ";
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (n > 0) {
    std::string message(static_cast<size_t>(n) + 1, '\0');
    std::vsnprintf(message.data(), message.size(), format, args);
    message.resize(static_cast<size_t>(n));
    text += message;
  }
  va_end(args);
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

}  // namespace kelvane
