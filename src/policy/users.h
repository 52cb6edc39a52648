// The list of accounts: one TUser per subkey of UsersKeyPath, with the Windows profile of each.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.h"

#include "policy/user.h"

namespace tarnwick {

// An account that cannot be added: a taken or unusable name, a profile that cannot be made.
class AccountError : public Error {
 public:
  using Error::Error;
};

class TUsers {
 public:
  // Loads the list (Reload).
  TUsers();
  TUsers(const TUsers&) = delete;
  TUsers& operator=(const TUsers&) = delete;

  size_t Count() const { return items_.size(); }
  TUser& operator[](size_t index) const { return *items_.at(index); }

  // Rebuilds the list in the registry's enumeration order; records held before are released.
  void Reload();
  // The first record whose name equals name, letters a to z without regard to case; or null.
  TUser* FindUser(std::string_view name) const;
  // Creates the account's key, profile directory, ProfileList entry and user.dat, and appends
  // its record. Throws "There is already a user with this name" when the name is taken, and an
  // error naming the reason when the name cannot be one key name and one directory name (empty,
  // control characters, any of \/:*?"<>|, a blank or dot at the end); nothing is created then.
  // The profile is made first: an AccountError naming the path when its directories or
  // user.dat cannot be made, before any key is written.
  TUser& AddUser(std::string_view name);
  // Deletes the account's key and ProfileList entry and reloads the list. Returns whether the
  // ProfileList entry was deleted. The profile directory stays. A name that is empty or holds
  // "\" deletes nothing.
  bool RemoveUser(std::string_view name);

 private:
  std::vector<std::unique_ptr<TUser>> items_;
};

}  // namespace tarnwick
