#include "restable.h"

#include <string.h>

#include <algorithm>

#include "pelayout.h"

namespace vek::tools {
namespace {

using pe::kResourceHighBit;
using pe::ResourceDataEntry;
using pe::ResourceDirectoryHeader;
using pe::ResourceEntry;

constexpr size_t kDataAlignment = 8;

size_t AlignUp(size_t at, size_t alignment) { return (at + alignment - 1) / alignment * alignment; }

// The order of a directory's entries: names (by their UTF-16 units) before numbers.
bool Before(const ResourceId& a, const ResourceId& b) {
  if (a.name.empty() != b.name.empty()) return !a.name.empty();
  return a.name.empty() ? a.number < b.number : a.name < b.name;
}

}  // namespace

bool InResourceTableOrder(const Resource* a, const Resource* b) {
  if (!(a->type == b->type)) return Before(a->type, b->type);
  if (!(a->name == b->name)) return Before(a->name, b->name);
  return a->language < b->language;
}

// The resource table of `resources` for a section at address rva.
std::string ResourceTableBytes(const std::vector<Resource>& resources, uint32_t rva) {
  std::vector<const Resource*> sorted;
  for (const Resource& r : resources) sorted.push_back(&r);
  std::stable_sort(sorted.begin(), sorted.end(), InResourceTableOrder);
  // Where each type and each name begins in `sorted`, with the end as the last.
  std::vector<size_t> types, names;
  for (size_t i = 0; i < sorted.size(); ++i) {
    const bool new_type = i == 0 || !(sorted[i]->type == sorted[i - 1]->type);
    if (new_type) types.push_back(i);
    if (new_type || !(sorted[i]->name == sorted[i - 1]->name)) names.push_back(i);
  }
  types.push_back(sorted.size());
  names.push_back(sorted.size());
  const auto names_in = [&](size_t t) {
    return static_cast<size_t>(std::lower_bound(names.begin(), names.end(), types[t + 1]) -
                               std::lower_bound(names.begin(), names.end(), types[t]));
  };

  // The directories (the root, each type's, each name's), the names, the data entries,
  // the data.
  size_t at = ResourceDirectoryHeader::kSize + (types.size() - 1) * ResourceEntry::kSize;
  std::vector<size_t> type_at, name_at, type_name_at, name_name_at, data_at;
  for (size_t t = 0; t + 1 < types.size(); ++t) {
    type_at.push_back(at);
    at += ResourceDirectoryHeader::kSize + names_in(t) * ResourceEntry::kSize;
  }
  for (size_t n = 0; n + 1 < names.size(); ++n) {
    name_at.push_back(at);
    at += ResourceDirectoryHeader::kSize + (names[n + 1] - names[n]) * ResourceEntry::kSize;
  }
  const auto place_name = [&](const std::u16string& name) {
    const size_t here = at;
    at += name.empty() ? 0 : 2 + 2 * name.size();
    return here;
  };
  for (size_t t = 0; t + 1 < types.size(); ++t) type_name_at.push_back(place_name(sorted[types[t]]->type.name));
  for (size_t n = 0; n + 1 < names.size(); ++n) name_name_at.push_back(place_name(sorted[names[n]]->name.name));
  const size_t entries_at = at = AlignUp(at, 4);
  at += sorted.size() * ResourceDataEntry::kSize;
  for (const Resource* r : sorted) {
    data_at.push_back(AlignUp(at, kDataAlignment));
    at = data_at.back() + r->data.size();
  }

  std::string out(at, '\0');
  auto* p = reinterpret_cast<unsigned char*>(out.data());
  // A directory at `where` of the entries [begin, end) of `ids`, leading to `targets`.
  const auto directory = [&](size_t where, size_t begin, size_t end, const auto& id_of, const auto& name_at_of,
                             const auto& target_of) {
    uint16_t named = 0;
    for (size_t i = begin; i < end; ++i) {
      unsigned char* entry = p + where + ResourceDirectoryHeader::kSize + (i - begin) * ResourceEntry::kSize;
      const ResourceId& id = id_of(i);
      if (!id.name.empty()) {
        ++named;
        const size_t name = name_at_of(i);
        StoreU16(p + name, static_cast<uint16_t>(id.name.size()));
        for (size_t u = 0; u < id.name.size(); ++u) StoreU16(p + name + 2 + 2 * u, id.name[u]);
        StoreU32(entry, kResourceHighBit | static_cast<uint32_t>(name));
      } else {
        StoreU32(entry, id.number);
      }
      StoreU32(entry + 4, target_of(i));
    }
    StoreU16(p + where + ResourceDirectoryHeader::kNamedCountOffset, named);
    StoreU16(p + where + ResourceDirectoryHeader::kIdCountOffset, static_cast<uint16_t>(end - begin - named));
  };
  const auto first_name = [&](size_t t) {
    return static_cast<size_t>(std::lower_bound(names.begin(), names.end(), types[t]) - names.begin());
  };
  directory(
      0, 0, types.size() - 1, [&](size_t t) -> const ResourceId& { return sorted[types[t]]->type; },
      [&](size_t t) { return type_name_at[t]; },
      [&](size_t t) { return kResourceHighBit | static_cast<uint32_t>(type_at[t]); });
  for (size_t t = 0; t + 1 < types.size(); ++t) {
    const size_t first = first_name(t);
    directory(
        type_at[t], first, first + names_in(t), [&](size_t n) -> const ResourceId& { return sorted[names[n]]->name; },
        [&](size_t n) { return name_name_at[n]; },
        [&](size_t n) { return kResourceHighBit | static_cast<uint32_t>(name_at[n]); });
  }
  ResourceId language;
  for (size_t n = 0; n + 1 < names.size(); ++n) {
    directory(
        name_at[n], names[n], names[n + 1],
        [&](size_t i) -> const ResourceId& {
          return language = ResourceId{sorted[i]->language, {}};
        },
        [](size_t) { return size_t{0}; },
        [&](size_t i) { return static_cast<uint32_t>(entries_at + i * ResourceDataEntry::kSize); });
  }
  for (size_t i = 0; i < sorted.size(); ++i) {
    unsigned char* entry = p + entries_at + i * ResourceDataEntry::kSize;
    StoreU32(entry, rva + static_cast<uint32_t>(data_at[i]));
    StoreU32(entry + 4, static_cast<uint32_t>(sorted[i]->data.size()));
    StoreU32(entry + ResourceDataEntry::kCodePageOffset, sorted[i]->code_page);
    memcpy(p + data_at[i], sorted[i]->data.data(), sorted[i]->data.size());
  }
  return out;
}

}  // namespace vek::tools
