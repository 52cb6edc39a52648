// The text of Tarnwick's own policy template (tarnwick.adm), built into the program.
#pragma once

#include <string_view>

namespace tarnwick {

std::string_view TarnwickTemplateText();

}  // namespace tarnwick
