// Parsing a policy template of 1,000 policies: 50 categories of 20 policies, a third plain check
// boxes, a third with a numeric and an edit part, a third with a drop-down list and a list box;
// names through [strings].
#include <benchmark/benchmark.h>

#include <string>

#include "policy/template_parser.h"

namespace tarnwick {
namespace {

constexpr int kCategories = 50;
constexpr int kPoliciesPerCategory = 20;

std::string ThousandPolicies() {
  std::string text = "CLASS USER\n";
  std::string strings = "[strings]\n";
  for (int c = 0; c < kCategories; ++c) {
    const std::string cat = std::to_string(c);
    text += "CATEGORY !!Cat" + cat + "\n  KEYNAME Software\\Bench\\Category" + cat + "\n";
    strings += "Cat" + cat + "=\"Category number " + cat + "\"\n";
    for (int p = 0; p < kPoliciesPerCategory; ++p) {
      const std::string id = cat + "_" + std::to_string(p);
      text += "  POLICY !!Pol" + id + "\n";
      strings += "Pol" + id + "=\"Policy number " + id + "\"\n";
      switch (p % 3) {
        case 0:
          text += "    VALUENAME Flag" + id + " VALUEON NUMERIC 1 VALUEOFF NUMERIC 0\n";
          break;
        case 1:
          text += "    PART \"Count\" NUMERIC REQUIRED SPIN 5\n      VALUENAME Count" + id +
                  " MIN 1 MAX 500 DEFAULT 10\n    END PART\n"
                  "    PART \"Path\" EDITTEXT EXPANDABLETEXT MAXLEN 200\n      VALUENAME Path" +
                  id + " DEFAULT \"%windir%\\bench\"\n    END PART\n";
          break;
        default:
          text += "    PART \"Mode\" DROPDOWNLIST\n      VALUENAME Mode" + id +
                  "\n      ITEMLIST\n        NAME \"Low\" VALUE NUMERIC 1\n"
                  "        NAME \"High\" VALUE NUMERIC 2\n          ACTIONLIST\n"
                  "            VALUENAME Boost VALUE NUMERIC 1\n          END ACTIONLIST\n"
                  "      END ITEMLIST\n    END PART\n"
                  "    PART \"Items\" LISTBOX ADDITIVE\n      KEYNAME Software\\Bench\\List" +
                  id + "\n    END PART\n";
          break;
      }
      text += "  END POLICY\n";
    }
    text += "END CATEGORY\n";
  }
  return text + "\n" + strings;
}

void BM_ParseThousandPolicies(benchmark::State& state) {
  const std::string text = ThousandPolicies();
  for (auto _ : state) {
    PolicyTemplate parsed = ParseTemplate(text, "bench.adm");
    benchmark::DoNotOptimize(parsed);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ParseThousandPolicies)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tarnwick

BENCHMARK_MAIN();
