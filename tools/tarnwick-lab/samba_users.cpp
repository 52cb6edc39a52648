#include "samba_users.h"

#include "base/csv.h"

namespace tarnwick {

namespace {

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

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
  std::string script =
      "#!/bin/sh\n"
      "# Samba accounts for the class list " +
      fileName +
      ". Run as root on the server.\n"
      "# pdbedit -a asks for each new password; smbpasswd NAME changes one later.\n"
      "set -e\n";
  for (const ClassListRow& row : list.rows) {
    const std::string& name = row.cells[nameColumn];
    const std::string problem = AccountNameProblem(name);
    if (!problem.empty()) {
      throw CsvError(CsvPlace(fileName, row.line, nameColumn + 1) + "the name \"" + name + "\" " +
                     problem);
    }
    // Samba finds the Unix account by the lower-case name whatever case a client types.
    const std::string account = ShellQuote(Lower(name));
    script += "\n# " + name + " (line " + std::to_string(row.line) + ")\n";
    if (homes) {
      const std::string home = (*homes / Lower(name)).string();
      script += "useradd --user-group --no-create-home --home-dir " + ShellQuote(home) +
                " --shell /usr/sbin/nologin -- " + account + "\n";
      script += "install -d -o " + account + " -g " + account + " -m 0700 -- " + ShellQuote(home) +
                " " + ShellQuote(home + "/.profiles") + "\n";
    } else {
      script += "useradd --user-group --create-home --shell /usr/sbin/nologin -- " + account + "\n";
    }
    script += "pdbedit -a -u " + account + "\n";
  }
  return script;
}

}  // namespace tarnwick
