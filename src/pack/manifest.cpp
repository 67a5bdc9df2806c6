#include "manifest.h"

#include <initializer_list>

namespace vek::build {
namespace {

bool IsAlnum(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

std::string Escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

// Sets the attribute `name` of the element that begins at `element`; false when the
// element has no such attribute.
bool SetAttribute(std::string* text, size_t element, const std::string& name, const std::string& value) {
  const size_t end = text->find('>', element);
  const size_t at = text->find(" " + name + "=\"", element);
  if (end == std::string::npos || at == std::string::npos || at > end) return false;
  const size_t begin = at + name.size() + 3;
  const size_t close = text->find('"', begin);
  if (close == std::string::npos || close > end) return false;
  text->replace(begin, close - begin, value);
  return true;
}

}  // namespace

std::string AssemblyName(std::initializer_list<const char*> parts) {
  std::string out;
  for (const char* part : parts) {
    if (!part) continue;
    std::string name;
    bool apart = false;  // other characters since the last letter or digit
    for (const char* p = part; *p; ++p) {
      if (!IsAlnum(*p)) {
        apart = true;
        continue;
      }
      if (apart && !name.empty()) name += '.';
      apart = false;
      name += *p;
    }
    if (name.empty()) continue;
    out += (out.empty() ? "" : ".") + name;
  }
  return out;
}

std::string SetManifest(const std::string& manifest, const ManifestSettings& settings, std::string* problem) {
  std::string text = manifest;
  const size_t identity = text.find("<assemblyIdentity ");
  if ((!settings.name.empty() || !settings.version.empty()) &&
      (identity == std::string::npos ||
       (!settings.name.empty() && !SetAttribute(&text, identity, "name", settings.name)) ||
       (!settings.version.empty() && !SetAttribute(&text, identity, "version", settings.version)))) {
    *problem = "its manifest has no assemblyIdentity with a name and a version";
    return "";
  }
  if (!settings.description.empty()) {
    const std::string open = "<description>", close = "</description>";
    const size_t begin = text.find(open), end = text.find(close);
    if (begin == std::string::npos || end == std::string::npos || end < begin) {
      *problem = "its manifest has no description";
      return "";
    }
    text.replace(begin + open.size(), end - begin - open.size(), Escaped(settings.description));
  }
  if (settings.level != ExecutionLevel::kStubs) {
    const size_t level = text.find("<requestedExecutionLevel ");
    const char* value = settings.level == ExecutionLevel::kRequireAdministrator ? "requireAdministrator" : "asInvoker";
    if (level == std::string::npos || !SetAttribute(&text, level, "level", value)) {
      *problem = "its manifest has no requestedExecutionLevel";
      return "";
    }
  }
  return text;
}

}  // namespace vek::build
