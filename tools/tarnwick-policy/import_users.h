// import-users: many accounts from a class list, as add-user makes each.
#pragma once

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

namespace tarnwick {

class AccountShell;
class TUsers;

// The most rows a class list may have. Every account adds about 1.8 KB to the policy file that
// each client downloads at every logon, and a list of 2,000 already takes seconds to make.
inline constexpr size_t kMaxClassListRows = 2000;

// Makes an account for each row of the class list csvFile (UTF-8 comma-separated text; a header
// line names the columns name, icon, group, hide-drives, restrict, allow, copy-programs and
// share-programs, each cell taking what add-user's option of that name takes). Every row is
// checked before the first account is made; a fault throws CsvError naming the file, line and
// column. Prints NAME<TAB>GROUP for each row that names a group (the membership Windows 95 asks
// the logon server for). Each profile directory it makes, and the Profiles folder when it makes
// it, is appended to newFolders, for a failure to take back.
void ImportUsers(TUsers& users, const std::filesystem::path& csvFile, std::ostream& out,
                 AccountShell& shell, std::vector<std::string>& newFolders);

}  // namespace tarnwick
