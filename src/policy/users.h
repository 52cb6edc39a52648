// The list of accounts: one TUser per subkey of UsersKeyPath, with the Windows profile of each.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
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

class Machine;
class PolicyStore;
class TUsers;

// Where a new account's profile is made: the Windows directory's Profiles\name, or on a lab
// the home share's \\SERVER\name\.profiles.
std::string ProfileDirectoryFor(const Machine& machine, std::string_view name);

// Why name cannot be a new account's name, as the text to show (UTF-8); empty when it can. It
// must be one key name and one profile directory name: not empty, no control characters, none
// of \/:*?"<>|, no blank or dot at the end, no device name (CON, PRN, AUX, NUL, COM1-COM9,
// LPT1-LPT9, with any extension), not .default (Default User's entry), the profile's user.dat
// within 259 characters; on a lab also a Samba account's name; and, when accounts are given, no
// account's name ("There is already a user with this name").
std::optional<std::string> RefusedUserName(const Machine& machine, std::string_view name,
                                           const TUsers* accounts);

class TUsers {
 public:
  // Loads the store's list (Reload).
  explicit TUsers(PolicyStore& store);
  TUsers(const TUsers&) = delete;
  TUsers& operator=(const TUsers&) = delete;

  PolicyStore& Store() const { return store_; }
  size_t Count() const { return items_.size(); }
  TUser& operator[](size_t index) const { return *items_.at(index); }

  // Rebuilds the list in the registry's enumeration order, without Default User's entry
  // (.default); records held before are released.
  void Reload();
  // The first record whose name equals name, letters folded as code page 1252 folds them (so
  // two names that are one folder on FAT find one account); or null.
  TUser* FindUser(std::string_view name) const;
  // Creates the account's key, profile directory, ProfileList entry and user.dat, and appends
  // its record. Throws an AccountError with the text of RefusedUserName for a name it refuses;
  // nothing is created then.
  // The profile is made first: an AccountError naming the path when its directories or
  // user.dat cannot be made, before any key is written.
  TUser& AddUser(std::string_view name);
  // Deletes the account's key and ProfileList entry and reloads the list. Returns whether the
  // ProfileList entry was deleted. The profile directory stays. A name that is empty, holds "\"
  // or is .default deletes nothing.
  bool RemoveUser(std::string_view name);

 private:
  PolicyStore& store_;
  std::vector<std::unique_ptr<TUser>> items_;
};

}  // namespace tarnwick
