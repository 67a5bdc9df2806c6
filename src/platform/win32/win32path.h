// How the Win32 file edge turns a path's bytes into the UTF-16 path it hands to the
// system: in the ANSI code page, as the 8-bit file functions would, except that a path
// beginning with the registered UTF-8 prefix has that prefix read as UTF-8.
//
// The stub registers a destination folder given in UTF-8 (a publisher's configured
// folder, or one typed or given with /D) so that a name outside the ANSI code page
// reaches the file system intact, while the entries' relative paths below it keep
// their meaning.
#pragma once

namespace vek {

// Registers prefix (UTF-8, zero-terminated; copied) or, with nullptr, none. A path
// matches when it equals the prefix, continues it after a backslash, or is a part of
// it that ends where the prefix has a backslash (the folders made on the way to it).
void SetUtf8PathPrefix(const char* prefix);

}  // namespace vek
