#pragma once
// Shared by the tools that read their command lines with CLI11.
#include <CLI/CLI.hpp>

#include <string>
#include <vector>

namespace kovtools {

/// The arguments as CLI11 takes them, last first. CLI11 reads "--name=" as "--name" and would
/// take the next argument as the value; the empty text is meant, and is passed on as such.
inline std::vector<std::string> withEmptyValues(const CLI::App& app, const std::vector<std::string>& args) {
  std::vector<std::string> out;
  for (auto arg = args.rbegin(); arg != args.rend(); ++arg) {
    const std::size_t equals = arg->find('=');
    const CLI::Option* option =
        arg->starts_with("--") && equals + 1 == arg->size() ? app.get_option_no_throw(arg->substr(0, equals)) : nullptr;
    if (option && option->get_items_expected_min() > 0) {
      out.emplace_back();
      out.push_back(arg->substr(0, equals));
    } else {
      out.push_back(*arg);
    }
  }
  return out;
}

}  // namespace kovtools
