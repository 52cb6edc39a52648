// The policy template language, version 1, as Windows 95's policy editor reads it.
#pragma once

#include <string_view>

#include "policy/policy_template.h"

namespace tarnwick {

// Parses a template's text (code page 1252). fileName names the template in the model and in
// errors. Throws TemplateError "FILE(LINE): ..." for an unknown keyword or malformed input.
PolicyTemplate ParseTemplate(std::string_view text, std::string_view fileName);

}  // namespace tarnwick
