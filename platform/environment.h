// Process environment and command line.
#pragma once

#include <optional>
#include <string>

namespace kelvane::env {

bool set(const std::string& name, const std::string& value);  // UTF-8 name and value
bool unset(const std::string& name);
std::optional<std::string> get(const std::string& name);

}  // namespace kelvane::env
