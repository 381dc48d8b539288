#pragma once
// The till's page, served from a folder at /.
#include <optional>
#include <string>

namespace kovbridge {

/// A file to send.
struct BridgeFile {
  std::string contentType;
  std::string content;
};

/// The file of the served folder root that path (decoded, beginning with /) names; "/" and a
/// path ending in / name index.html there. Nothing outside the folder is served, not through
/// "..", nor through a symbolic link that leads out of it; no folder is listed; nullopt for
/// all of these and for a file that does not exist.
std::optional<BridgeFile> staticFile(const std::string& root, const std::string& path);

/// The content type of a file name by its extension (text types in UTF-8).
std::string contentTypeOf(const std::string& name);

}  // namespace kovbridge
