// The stub's manifest (resource type 24, id 1) as vekpack writes it for a publisher's
// installer: the assembly's identity and description name the product, and the
// execution level is the one its folder needs. An executable packed without a
// configuration keeps the stub's manifest as it is.
#pragma once

#include <initializer_list>
#include <string>

namespace vek::build {

enum class ExecutionLevel { kStubs, kAsInvoker, kRequireAdministrator };

struct ManifestSettings {
  std::string name;         // the assembly identity's name; empty: the stub's own
  std::string version;      // four numbers separated by dots; empty: the stub's own
  std::string description;  // UTF-8; empty: the stub's own
  ExecutionLevel level = ExecutionLevel::kStubs;
  bool level_asked = false;  // by "elevation": a stub without a manifest is refused
  bool Changes() const {
    return !name.empty() || !version.empty() || !description.empty() || level != ExecutionLevel::kStubs;
  }
};

// An assembly identity's name made of texts (a publisher, a product, an id): of
// each, its ASCII letters and digits, and dots between them where it has any other
// characters, with no dot at either end or two in a row; the parts that keep
// anything joined by dots. Empty when none keeps anything.
std::string AssemblyName(std::initializer_list<const char*> parts);

// The manifest's text with the settings made; empty, with *problem, when the text
// lacks an element that a setting goes into.
std::string SetManifest(const std::string& manifest, const ManifestSettings& settings, std::string* problem);

}  // namespace vek::build
