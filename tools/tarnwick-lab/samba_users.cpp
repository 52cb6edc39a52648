#include "samba_users.h"

#include <map>
#include <vector>

#include "base/csv.h"
#include "base/text.h"

namespace tarnwick {

namespace {

// groupadd's limit for a group name.
constexpr size_t kMaxUnixGroupName = 32;

// Shell functions for the groups: make a Unix group unless it exists (refusing a system group,
// whose members would gain its rights), and map it to a domain group whether or not a mapping
// of that name exists already, so that the script may run again for another class list.
constexpr std::string_view kGroupFunctions =
    "\n# unix_group UNIXGROUP: made unless it exists; a system group is refused.\n"
    "unix_group() {\n"
    "  gid=$(getent group \"$1\" | cut -d: -f3)\n"
    "  if [ -z \"$gid\" ]; then\n"
    "    groupadd -- \"$1\"\n"
    "  elif [ \"$gid\" -lt 1000 ]; then\n"
    "    echo \"$1 is a system group (GID $gid); rename the policy group\" >&2\n"
    "    exit 1\n"
    "  fi\n"
    "}\n"
    "# map_group NTGROUP UNIXGROUP: the domain group NTGROUP is UNIXGROUP, mapped anew or "
    "changed.\n"
    "map_group() {\n"
    "  if net groupmap list \"ntgroup=$1\" >/dev/null 2>&1; then\n"
    "    net groupmap modify \"ntgroup=$1\" \"unixgroup=$2\" type=domain\n"
    "  else\n"
    "    net groupmap add \"ntgroup=$1\" \"unixgroup=$2\" type=domain\n"
    "  fi\n"
    "}\n";

bool IsAsciiLetterOrDigit(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// The Unix group of a policy group: letters in lower case, digits, "-" and "_" kept, each run of
// blanks and other punctuation one "_", "-" and "_" at either end dropped, and "_" before a
// leading digit. Throws CsvError at place for a name that leaves none or too long a one, or
// holds a character outside ASCII's printable ones.
std::string UnixGroupName(std::string_view group, const std::string& place) {
  const std::string quoted = "the group \"" + std::string(group) + "\" ";
  std::string unixName;
  bool separator = false;
  for (size_t i = 0; i < group.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(group[i]);
    if (c < 0x20 || c >= 0x7f) {
      size_t end = i + 1;
      while (end < group.size() && (static_cast<unsigned char>(group[end]) & 0xc0) == 0x80) ++end;
      throw CsvError(place + quoted + "holds \"" + std::string(group.substr(i, end - i)) +
                     "\"; a Unix group is named from the letters A to Z, digits, blanks and "
                     "punctuation");
    }
    if (IsAsciiLetterOrDigit(group[i]) || c == '-' || c == '_') {
      if (separator && !unixName.empty()) unixName += '_';
      separator = false;
      unixName += group[i];
    } else {
      separator = true;
    }
  }
  unixName = LowerAscii(unixName);
  const size_t first = unixName.find_first_not_of("-_");
  if (first == std::string::npos) {
    throw CsvError(place + quoted + "holds no letter or digit to name a Unix group");
  }
  unixName = unixName.substr(first, unixName.find_last_not_of("-_") - first + 1);
  if (unixName[0] >= '0' && unixName[0] <= '9') unixName.insert(0, "_");
  if (unixName.size() > kMaxUnixGroupName) {
    throw CsvError(place + quoted + "makes the Unix group \"" + unixName + "\", longer than " +
                   std::to_string(kMaxUnixGroupName) + " characters");
  }
  return unixName;
}

struct UnixGroup {
  std::string name;  // the policy group as first written
  size_t line = 0;
  std::string unixName;
};

}  // namespace

std::string ShellQuote(std::string_view text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

std::string SambaUserCommands(std::string_view text, const std::string& fileName,
                              const std::optional<std::filesystem::path>& homes) {
  const ClassList list = ReadClassList(text, fileName, kClassListColumns);
  const size_t nameColumn = *list.Column("name");
  const std::optional<size_t> groupColumn = list.Column("group");
  // Each account's own Unix group (useradd --user-group), by name, with its line.
  std::map<std::string, size_t> accounts;
  for (const ClassListRow& row : list.rows) {
    accounts.emplace(LowerAscii(row.cells[nameColumn]), row.line);
  }
  // The policy groups by name in lower case (letter case does not tell them apart) and by their
  // Unix group, in the order of their first rows, and each row's group or none.
  std::map<std::string, UnixGroup> groups;
  std::map<std::string, const UnixGroup*> unixGroups;
  std::vector<const UnixGroup*> groupOrder;
  std::vector<const UnixGroup*> rowGroups;
  for (const ClassListRow& row : list.rows) {
    const std::string& name = row.cells[nameColumn];
    const std::string problem = AccountNameProblem(name);
    if (!problem.empty()) {
      throw CsvError(CsvPlace(fileName, row.line, nameColumn + 1) + "the name \"" + name + "\" " +
                     problem);
    }
    const std::string group = groupColumn ? row.cells[*groupColumn] : std::string();
    if (group.empty()) {
      rowGroups.push_back(nullptr);
      continue;
    }
    if (const auto it = groups.find(LowerAscii(group)); it != groups.end()) {
      rowGroups.push_back(&it->second);
      continue;
    }
    const std::string place = CsvPlace(fileName, row.line, *groupColumn + 1);
    const std::string unixName = UnixGroupName(group, place);
    const std::string makes =
        "the group \"" + group + "\" makes the Unix group \"" + unixName + "\", ";
    if (const auto it = unixGroups.find(unixName); it != unixGroups.end()) {
      throw CsvError(place + makes + "as the group \"" + it->second->name + "\" on line " +
                     std::to_string(it->second->line) + " does");
    }
    if (const auto it = accounts.find(unixName); it != accounts.end()) {
      throw CsvError(place + makes + "the own group of the account on line " +
                     std::to_string(it->second));
    }
    const UnixGroup* made =
        &groups.emplace(LowerAscii(group), UnixGroup{group, row.line, unixName}).first->second;
    unixGroups.emplace(unixName, made);
    groupOrder.push_back(made);
    rowGroups.push_back(made);
  }
  std::string script =
      "#!/bin/sh\n"
      "# Samba accounts for the class list " +
      fileName +
      ". Run as root on the server.\n"
      "# pdbedit -a asks for each new password; smbpasswd NAME changes one later.\n"
      "set -e\n";
  if (!groupOrder.empty()) {
    script += kGroupFunctions;
    script += "\n# The policy groups, as domain groups of Unix groups.\n";
    for (const UnixGroup* group : groupOrder) {
      script += "unix_group " + ShellQuote(group->unixName) + "\n";
      script += "map_group " + ShellQuote(group->name) + " " + ShellQuote(group->unixName) + "\n";
    }
  }
  for (size_t i = 0; i < list.rows.size(); ++i) {
    const ClassListRow& row = list.rows[i];
    const std::string& name = row.cells[nameColumn];
    // Samba finds the Unix account by the lower-case name whatever case a client types.
    const std::string account = ShellQuote(LowerAscii(name));
    script += "\n# " + name + " (line " + std::to_string(row.line) + ")\n";
    if (homes) {
      const std::string home = (*homes / LowerAscii(name)).string();
      script += "useradd --user-group --no-create-home --home-dir " + ShellQuote(home) +
                " --shell /usr/sbin/nologin -- " + account + "\n";
      script += "install -d -o " + account + " -g " + account + " -m 0700 -- " + ShellQuote(home) +
                " " + ShellQuote(home + "/.profiles") + "\n";
    } else {
      script += "useradd --user-group --create-home --shell /usr/sbin/nologin -- " + account + "\n";
    }
    script += "pdbedit -a -u " + account + "\n";
    if (rowGroups[i]) {
      script += "usermod -a -G " + ShellQuote(rowGroups[i]->unixName) + " -- " + account + "\n";
    }
  }
  return script;
}

}  // namespace tarnwick
