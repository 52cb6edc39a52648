// Policy templates: the parser fails only with TemplateError naming a line of the text, and what
// it accepts holds together: every policy is found by its path, whatever writes has a key, every
// drop-down list has items and every numeric range is ordered.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "policy/policy_templates.h"
#include "policy/template_parser.h"

namespace {

using namespace tarnwick;

constexpr std::string_view kName = "fuzz.adm";

void CheckError(const TemplateError& e, std::string_view text) {
  const std::string_view what = e.what();
  fuzz::Check(what.starts_with("fuzz.adm("), "an error names the file");
  size_t line = 0;
  size_t i = kName.size() + 1;
  for (; i < what.size() && what[i] >= '0' && what[i] <= '9'; ++i)
    line = line * 10 + (what[i] - '0');
  fuzz::Check(what.substr(i).starts_with("): "), "an error names a line");
  const size_t lines = static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
  fuzz::Check(line >= 1 && line <= lines, "the line named is one of the text's");
}

void CheckPolicy(const Policy& policy) {
  fuzz::Check(!policy.name.empty(), "a policy has a name");
  fuzz::Check(policy.valueName.empty() || !policy.key.empty(), "a policy value has a key");
  for (const PolicyPart& part : policy.parts) {
    fuzz::Check(part.type == PartType::Text || !part.key.empty(), "a part that writes has a key");
    fuzz::Check(part.min <= part.max, "a part's range is ordered");
    fuzz::Check(part.type != PartType::DropDownList || !part.items.empty(),
                "a drop-down list has items");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<PolicyTemplate> templates;
  try {
    templates.push_back(ParseTemplate(text, kName));
  } catch (const TemplateError& e) {
    CheckError(e, text);
    return 0;
  }
  for (PolicyClass cls : {PolicyClass::User, PolicyClass::Machine}) {
    for (const PolicyRef& ref : ListPolicies(templates, cls)) {
      CheckPolicy(*ref.policy);
      fuzz::Check(FindPolicy(templates, cls, ref.path) != nullptr, "a policy is found by its path");
    }
  }
  return 0;
}
