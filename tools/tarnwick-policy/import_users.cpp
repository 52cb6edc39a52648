#include "import_users.h"

#include <optional>
#include <string_view>
#include <unordered_map>

#include "account/machine_settings.h"
#include "base/cp1252.h"
#include "base/csv.h"
#include "base/file_io.h"
#include "base/text.h"
#include "machine/machine.h"
#include "new_user_options.h"
#include "policy/policy_entries.h"
#include "policy/policy_store.h"
#include "policy/users.h"

namespace tarnwick {

namespace {

constexpr std::string_view kColumns[] = {"name",     "icon",  "group",         "hide-drives",
                                         "restrict", "allow", "copy-programs", "share-programs"};

// Far beyond the most rows of long paths; a bigger file is no class list.
constexpr size_t kMaxFileSize = size_t{64} << 20;

std::string FoldedName(std::string_view name) {
  std::string folded(name);
  for (char& c : folded) c = UpperCp1252(c);
  return folded;
}

// One row: its cells in code page 1252, and errors that name its line and a column.
class Row {
 public:
  Row(const ClassList& list, const ClassListRow& row, const std::string& fileName)
      : list_(list), line_(row.line), fileName_(fileName) {
    for (size_t c = 0; c < row.cells.size(); ++c) {
      const std::optional<std::string> ansi = Utf8ToCp1252(row.cells[c]);
      if (!ansi) Fail(c, "the cell holds a character that code page 1252 cannot hold");
      if (FindControlCharacter(*ansi) != std::string::npos) {
        Fail(c, "the cell holds a control character such as a line break or a tab");
      }
      cells_.push_back(*ansi);
    }
  }

  size_t Line() const { return line_; }
  // The cell of a column; empty when the header does not name it.
  const std::string& Cell(std::string_view column) const {
    static const std::string none;
    const std::optional<size_t> at = list_.Column(column);
    return at ? cells_[*at] : none;
  }
  [[noreturn]] void Fail(std::string_view column, const std::string& what) const {
    Fail(*list_.Column(column), what);
  }

 private:
  [[noreturn]] void Fail(size_t index, const std::string& what) const {
    throw CsvError(CsvPlace(fileName_, line_, index + 1) + what);
  }

  const ClassList& list_;
  size_t line_;
  const std::string& fileName_;
  std::vector<std::string> cells_;
};

// A row checked: the account's answers and its allowed programs.
struct ImportedUser {
  NewUserOptions options;
  std::vector<AllowedAppEntry> programs;
  std::string group;
};

class RowChecker {
 public:
  explicit RowChecker(TUsers& users)
      : users_(users), machine_(users.Store().GetMachine()), groups_(Groups(users.Store())) {
    for (std::string& group : GroupsOutsidePriority(users.Store())) {
      groups_.push_back(std::move(group));
    }
  }

  ImportedUser Check(const Row& row) {
    ImportedUser user;
    NewUserAnswers& answers = user.options.answers;
    answers.name = row.Cell("name");
    answers.folderChoice = ProgramFolderChoice::Empty;
    CheckName(row, answers.name);
    answers.iconFile = row.Cell("icon");
    if (!answers.iconFile.empty() && !ExistingFile(machine_, answers.iconFile)) {
      row.Fail("icon",
               "There is no icon file " + Cp1252ToUtf8(answers.iconFile) + " on the machine");
    }
    user.group = Group(row);
    try {
      if (!row.Cell("hide-drives").empty()) {
        answers.hiddenDrives = DriveLetters(row.Cell("hide-drives"));
      }
    } catch (const OptionValueError& e) {
      row.Fail("hide-drives", std::string("hide-drives ") + e.what());
    }
    try {
      if (!row.Cell("restrict").empty()) AddRestrictions(row.Cell("restrict"), answers);
    } catch (const OptionValueError& e) {
      row.Fail("restrict", std::string("restrict ") + e.what());
    }
    if (!row.Cell("allow").empty()) {
      for (const std::string& program : SplitAtCommas(row.Cell("allow"))) {
        try {
          user.programs.push_back(AllowedEntry(machine_, program));
        } catch (const Error& e) {
          row.Fail("allow", e.what());
        }
      }
    }
    SourceUser(row, answers);
    earlier_.emplace(FoldedName(answers.name), Earlier{row.Line(), answers.name});
    return user;
  }

 private:
  struct Earlier {
    size_t line;
    std::string name;
  };

  void CheckName(const Row& row, const std::string& name) {
    if (const auto it = earlier_.find(FoldedName(name)); it != earlier_.end()) {
      row.Fail("name", "the name \"" + Cp1252ToUtf8(name) + "\" is on line " +
                           std::to_string(it->second.line) +
                           " already (letter case does not tell names apart)");
    }
    if (const std::optional<std::string> refused = RefusedUserName(machine_, name, &users_)) {
      row.Fail("name", Cp1252ToUtf8(name) + ": " + *refused);
    }
    const std::string profile = ProfileDirectoryFor(machine_, name);
    const std::optional<VolumeEntry> there = machine_.Stat(profile);
    if (there && !there->IsDirectory()) {
      row.Fail("name", "The profile directory " + Cp1252ToUtf8(profile) +
                           " cannot be made: a file has its name");
    }
  }

  std::string Group(const Row& row) const {
    const std::string& named = row.Cell("group");
    if (named.empty()) return {};
    for (const std::string& group : groups_) {
      if (EqualsIgnoreCase(group, named)) return group;
    }
    row.Fail("group", "There is no group " + Cp1252ToUtf8(named) +
                          " in the policy file (add-group adds one)");
  }

  // copy-programs or share-programs: an account of the machine, or one made by an earlier row.
  void SourceUser(const Row& row, NewUserAnswers& answers) const {
    const std::string& copy = row.Cell("copy-programs");
    const std::string& share = row.Cell("share-programs");
    if (copy.empty() && share.empty()) return;
    const std::string_view column = copy.empty() ? "share-programs" : "copy-programs";
    if (!copy.empty() && !share.empty()) {
      row.Fail("share-programs", "a row takes copy-programs or share-programs, not both");
    }
    const std::string& source = copy.empty() ? share : copy;
    answers.folderChoice = copy.empty() ? ProgramFolderChoice::Share : ProgramFolderChoice::Copy;
    if (const TUser* user = users_.FindUser(source)) {
      answers.sourceUser = user->Name();
    } else if (const auto it = earlier_.find(FoldedName(source)); it != earlier_.end()) {
      answers.sourceUser = it->second.name;
    } else {
      row.Fail(column, "There is no user named " + Cp1252ToUtf8(source) +
                           " on the machine nor on an earlier line");
    }
  }

  TUsers& users_;
  const Machine& machine_;
  std::vector<std::string> groups_;
  std::unordered_map<std::string, Earlier> earlier_;  // by FoldedName
};

// The folder holding a Windows path, without a trailing "\".
std::string ParentFolder(const std::string& path) {
  return path.substr(0, path.rfind('\\'));
}

}  // namespace

void ImportUsers(TUsers& users, const std::filesystem::path& csvFile, std::ostream& out,
                 AccountShell& shell, std::vector<std::string>& newFolders) {
  const std::vector<uint8_t> bytes = ReadWholeFile(csvFile, kMaxFileSize);
  const std::string fileName = csvFile.string();
  const ClassList list =
      ReadClassList(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                    fileName, kColumns);
  if (list.rows.size() > kMaxClassListRows) {
    throw CsvError(CsvPlace(fileName, list.rows[kMaxClassListRows].line, 0) + "more than " +
                   std::to_string(kMaxClassListRows) + " rows; split the class list");
  }
  RowChecker checker(users);
  std::vector<ImportedUser> imported;
  imported.reserve(list.rows.size());
  for (const ClassListRow& each : list.rows) {
    imported.push_back(checker.Check(Row(list, each, fileName)));
  }

  const Machine& machine = users.Store().GetMachine();
  const std::vector<std::string> startup = StartupPrograms(users.Store().GetRegistry());
  for (ImportedUser& user : imported) {
    const std::string profile = ProfileDirectoryFor(machine, user.options.answers.name);
    for (const std::string& folder : {ParentFolder(profile), profile}) {
      if (!machine.Stat(folder)) newFolders.push_back(folder);
    }
    MakeAccount(users, std::move(user.options.answers), startup, user.programs, shell);
    if (!user.group.empty()) out << users[users.Count() - 1].Name() << '\t' << user.group << '\n';
  }
}

}  // namespace tarnwick
