#include "BridgeStatic.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string_view>
#include <utility>

namespace kovbridge {
namespace {

constexpr std::array<std::pair<std::string_view, std::string_view>, 8> kTypes{{
    {".html", "text/html; charset=utf-8"},
    {".js", "text/javascript; charset=utf-8"},
    {".mjs", "text/javascript; charset=utf-8"},
    {".css", "text/css; charset=utf-8"},
    {".svg", "image/svg+xml"},
    {".png", "image/png"},
    {".json", "application/json"},
    {".txt", "text/plain; charset=utf-8"},
}};

// A page is small; anything larger is not the till's page.
constexpr std::uintmax_t kMaxFileBytes = 16 * 1024 * 1024;

}  // namespace

std::string contentTypeOf(const std::string& name) {
  const std::string extension = std::filesystem::path(name).extension().string();
  for (const auto& [suffix, type] : kTypes) {
    if (extension == suffix) return std::string(type);
  }
  return "application/octet-stream";
}

std::optional<BridgeFile> staticFile(const std::string& root, const std::string& path) {
  namespace fs = std::filesystem;
  if (!path.starts_with('/')) return std::nullopt;
  std::string relative = path.substr(1);
  if (relative.empty() || relative.ends_with('/')) relative += "index.html";
  for (const auto& part : fs::path(relative)) {
    if (part == ".." || part == ".") return std::nullopt;
  }
  std::error_code error;
  const fs::path base = fs::canonical(root, error);
  if (error) return std::nullopt;
  // The real path, links resolved, must still be inside the folder.
  const fs::path file = fs::canonical(base / relative, error);
  if (error) return std::nullopt;
  const auto [end, inside] = std::mismatch(base.begin(), base.end(), file.begin(), file.end());
  if (end != base.end() || inside == file.end()) return std::nullopt;
  if (!fs::is_regular_file(file, error) || fs::file_size(file, error) > kMaxFileBytes || error) return std::nullopt;
  std::ifstream in(file, std::ios::binary);
  BridgeFile found{contentTypeOf(file.string()), std::string(std::istreambuf_iterator<char>(in), {})};
  if (!in.good() && !in.eof()) return std::nullopt;
  return found;
}

}  // namespace kovbridge
