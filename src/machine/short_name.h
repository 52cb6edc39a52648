// 8.3 short names: the aliases Windows 95 gives long file names, and short forms of whole paths.
#pragma once

#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

class Machine;

// The upper-case basis of an alias before any numeric tail: base (at most 8 characters) and
// extension (at most 3, without the dot). Lossy when characters were dropped, replaced or cut.
struct ShortNameBasis {
  std::string base;
  std::string ext;
  bool lossy = false;
};

// longName is ANSI (code page 1252); characters outside OEM code page 850 become "_".
ShortNameBasis MakeShortNameBasis(std::string_view longName);

// The alias Windows 95 gives longName in a directory whose existing short names are `taken`
// (upper case): the basis alone when nothing was lost and it is free, otherwise BASE~N.EXT with
// the lowest free N.
std::string MakeShortName(std::string_view longName, const std::set<std::string>& taken);

// True when name is stored as a bare 8.3 entry, with no long-name record: upper case, legal
// characters, base of 1-8 and extension of at most 3 characters.
bool IsBareShortName(std::string_view name);

struct DirectoryEntryName {
  std::string hostName;   // the entry's file name on the host
  std::string longName;   // ANSI
  std::string shortName;  // ANSI 8.3 alias, upper case; equals longName for bare 8.3 entries
};

// The entries of a host directory with their 8.3 aliases, sorted by host name. On a vfat mount
// these are the aliases stored on disk; elsewhere they are generated from the directory's
// contents alone, so the same contents always give the same aliases: bare 8.3 names keep
// themselves, then names that only differ in case claim their upper-case form unless it finds
// another entry by long name, then the rest take numeric tails in host-name order. So every alias
// leads back to its entry under FindDirectoryEntry. Entries whose names code page 1252 cannot hold
// are left out. Empty when the directory cannot be read.
std::vector<DirectoryEntryName> ReadDirectoryNames(const std::filesystem::path& hostDir);
// The same for a directory whose host names (every entry but "." and "..", in the order read)
// were listed already.
std::vector<DirectoryEntryName> DirectoryNamesOf(const std::filesystem::path& hostDir,
                                                 const std::vector<std::string>& hostNames);

// The entry called name (ANSI) among entries sorted by host name: an exact long name first, then
// the first long name differing only in ASCII letter case (as FindEntryIgnoringCase), then a
// short name so differing.
const DirectoryEntryName* FindDirectoryEntry(const std::vector<DirectoryEntryName>& entries,
                                             std::string_view name);

struct MachinePathComponent {
  std::string longName;
  std::string shortName;
  std::filesystem::path hostPath;
};

// An existing path on the machine, component by component as stored on disk.
struct MachinePath {
  std::string root;  // "C:" or "\\SERVER\SHARE"
  std::filesystem::path rootHostPath;
  std::vector<MachinePathComponent> components;

  std::string LongPath() const;
  std::string ShortPath() const;
  const std::filesystem::path& HostPath() const;
};

// Looks up an existing Windows path on the machine; each component may be given by its long or
// its short name, in any letter case. Empty when a component does not exist, a component is "."
// or "..", or the path leaves its drive.
std::optional<MachinePath> LocateMachinePath(const Machine& machine, std::string_view windowsPath);

// The short (8.3) form of an existing Windows path, e.g. C:\PROGRA~1\ACCESS~1\WORDPAD.EXE for
// C:\Program Files\Accessories\WORDPAD.EXE. Empty when the path does not exist.
std::optional<std::string> ShortPathName(const Machine& machine, std::string_view windowsPath);

}  // namespace tarnwick
