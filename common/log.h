// The diagnostic log line: one line on standard output per event,
//   "<local time> <module> <function> <line>: <message>"
// e.g. "2026-12-09 10:00:00 datazip datazip::zipfopen 42: Error opening x.zip".
#pragma once

namespace kelvane {

// Writes one diagnostic line. `sourcefile` is the issuing file's path (its base
// name without extension becomes the module field), `function` the class and
// function name ("datazip::zipfopen") or a free function's bare name.
void logline(const char* sourcefile, const char* function, int line, const char* format, ...)
    __attribute__((format(printf, 4, 5)));

}  // namespace kelvane

// KLOG("datazip::zipfopen", "Error opening %s\n", name);
#define KLOG(function, ...) ::kelvane::logline(__FILE__, function, __LINE__, __VA_ARGS__)
