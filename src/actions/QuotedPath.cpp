#include "actions/QuotedPath.h"

#include <iomanip>
#include <sstream>

std::string quotedPath(const std::filesystem::path& path) {
  std::ostringstream text;
  text << std::quoted(path.string());
  return text.str();
}
