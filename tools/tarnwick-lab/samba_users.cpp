#include "samba_users.h"

#include "base/csv.h"

namespace tarnwick {

namespace {

// LAN Manager user names, which Windows 95 sends to the domain, hold at most 20 characters.
constexpr size_t kMaxAccountName = 20;

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

}  // namespace

std::string AccountNameProblem(std::string_view name) {
  if (name.size() > kMaxAccountName) {
    return "is longer than " + std::to_string(kMaxAccountName) + " characters";
  }
  bool digitsOnly = true;
  for (char c : name) {
    const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    const bool digit = c >= '0' && c <= '9';
    if (!letter && !digit && c != '.' && c != '-' && c != '_') {
      return "holds \"" + std::string(1, c) +
             "\"; an account name takes the letters a to z, digits, \".\", \"-\" and \"_\"";
    }
    digitsOnly = digitsOnly && digit;
  }
  if (name.front() == '-' || name.front() == '.') return "begins with \"-\" or \".\"";
  if (digitsOnly) return "is only digits, which Unix takes for a user number";
  return {};
}

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
