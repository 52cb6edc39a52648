// The templates Tarnwick offers: its own, those of the templates folder, those named on the
// command line; and finding a policy by the path of categories it is shown under.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "policy/policy_entries.h"
#include "policy/policy_template.h"

namespace tarnwick {

// The name Tarnwick's own template carries in the model and in errors.
inline constexpr std::string_view kOwnTemplateName = "tarnwick.adm";

// $XDG_DATA_HOME/tarnwick/templates (~/.local/share/tarnwick/templates).
std::filesystem::path TemplatesFolder();

// Tarnwick's own template, parsed.
PolicyTemplate OwnTemplate();

// A template file of the host: code page 1252 text, or UTF-16 LE or UTF-8 after a byte order
// mark. Throws TemplateError naming the file when it cannot be read or parsed.
PolicyTemplate LoadTemplateFile(const std::filesystem::path& file);

// Tarnwick's own template, then every *.adm of TemplatesFolder() sorted by name, then extraFiles
// in order. Throws TemplateError for the first that cannot be read or parsed.
std::vector<PolicyTemplate> LoadTemplates(const std::vector<std::filesystem::path>& extraFiles);

// The class of policies an entry takes: USER for users, groups and Default User; MACHINE for
// computers and Default Computer.
PolicyClass ClassOf(const PolicyEntry& entry);

// A policy with the path it is shown under: its categories and its name, joined by '\'.
struct PolicyRef {
  std::string path;
  const Policy* policy = nullptr;
};

// Every policy of the class in the templates' order, each category's policies before its
// subcategories'. The pointers stay valid as long as the templates do.
std::vector<PolicyRef> ListPolicies(const std::vector<PolicyTemplate>& templates, PolicyClass cls);

// The first policy of the class with this path (letters a to z without regard to case), or null.
const Policy* FindPolicy(const std::vector<PolicyTemplate>& templates, PolicyClass cls,
                         std::string_view path);

// A category path and a name joined by '\' ("Control Panel\Display\Hide Settings page").
std::string JoinPolicyPath(std::string_view parent, std::string_view name);

}  // namespace tarnwick
