// The installer's settings: the stub's own, or those of a publisher's configuration.
#include <stdlib.h>
#include <string.h>

#include "cp1250.h"
#include "veksfxu.h"

namespace vek {

const StubSettings& DefaultSettings() {
  static constexpr StubSettings kDefaults;
  return kDefaults;
}

bool ConfiguredSettings::Init(const StubConfig& config) {
  const char** const slots[kKeyDamaged + 1] = {
      &settings_.caption,        &settings_.prompt,       &settings_.folder,
      &settings_.footer,         &settings_.group,        nullptr,
      &settings_.done,           &settings_.folder_error, &settings_.group_error,
      &settings_.extract_button, &settings_.quit_button,  &settings_.damaged};
  settings_.utf8 = true;
  for (int k = 0; k <= kKeyDamaged; ++k) {
    if (!slots[k]) continue;
    if (config.text[k]) {
      *slots[k] = config.text[k];
      continue;
    }
    // A key left out keeps the stub's own text, in UTF-8 like the rest.
    const char* own = *slots[k];
    const size_t room = strlen(own) * 3 + 1;
    char* utf8 = static_cast<char*>(malloc(room));
    if (!utf8) return false;
    const size_t length = Cp1250ToUtf8(own, strlen(own), utf8, room);
    converted_[k] = AnsiString(utf8, length);
    free(utf8);
    if (converted_[k].failed()) return false;
    *slots[k] = converted_[k].c_str();
  }
  for (int i = 0; i < config.item_count; ++i) items_[i] = {config.items[i].target, config.items[i].name};
  if (config.item_count > 0) {
    settings_.items = items_;
    settings_.item_count = config.item_count;
  }
  settings_.rights_error = config.text[kKeyRightsError] ? config.text[kKeyRightsError] : kRightsErrorMessage;
  settings_.open = config.text[kKeyOpen];
  settings_.run = config.text[kKeyRun];
  settings_.run_arguments = config.run_arguments;
  settings_.run_error = config.text[kKeyRunError] ? config.text[kKeyRunError] : kRunErrorMessage;
  settings_.confirm = config.text[kKeyConfirm] && strcmp(config.text[kKeyConfirm], "yes") == 0;
  const char* uninstall = config.text[kKeyUninstall];
  if (uninstall && strcmp(uninstall, "yes") == 0) {
    // The entry's key stays the same from version to version; the name shows it.
    const char* product = config.text[kKeyProduct] ? config.text[kKeyProduct] : settings_.group;
    settings_.version = config.text[kKeyVersion];
    app_name_ = product;
    if (settings_.version) {
      app_name_ += ' ';
      app_name_ += settings_.version;
    }
    settings_.app_name = app_name_.c_str();
    // A registry key's name holds no "\".
    for (const char* p = config.text[kKeyId] ? config.text[kKeyId] : product; *p; ++p) {
      app_id_ += *p == '\\' ? '-' : *p;
    }
    settings_.app_id = app_id_.c_str();
    settings_.publisher = config.text[kKeyPublisher];
    if (app_id_.failed() || app_name_.failed()) return false;
  }
  return true;
}

bool ConfiguredSettings::ResolveFolder(KnownFolderLookup lookup, bool elevated) {
  size_t length = 0;
  const KnownFolder known = FolderPrefix(settings_.folder, &length);
  settings_.personal = !elevated;
  if (known == KnownFolder::kNone) return true;
  if (known != KnownFolder::kProgramFiles) settings_.personal = true;
  settings_.temp = known == KnownFolder::kTemp;
  resolved_folder_ = lookup(known);
  if (!resolved_folder_.empty()) resolved_folder_ += settings_.folder + length;
  settings_.folder = resolved_folder_.c_str();
  return !resolved_folder_.failed();
}

}  // namespace vek
