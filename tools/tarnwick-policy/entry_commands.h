// The commands of tarnwick-policy on the policy file's entries: template policies in any entry,
// groups and computers, and what a logon applies.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "policy/policy_template.h"

namespace tarnwick {

class PolicyStore;

// Whether the command is one of these.
bool IsEntryCommand(const std::string& command);
// Whether it needs the policy templates: policies and policy.
bool UsesTemplates(const std::string& command);

// Checks the arguments beyond their count before anything is opened. Throws UsageError.
void CheckEntryCommand(const std::string& command, const std::vector<std::string>& args);

// Runs a checked command; arguments and output are code page 1252.
void RunEntryCommand(PolicyStore& store, const std::vector<PolicyTemplate>& templates,
                     const std::string& command, const std::vector<std::string>& args,
                     std::ostream& out);

}  // namespace tarnwick
