#include "operations/text_prompter.h"

#include <ctime>
#include <istream>
#include <ostream>
#include <string>

#include "base/text.h"

namespace tarnwick {

namespace {

// The local time as the C library writes it in the current locale.
std::string LocalTime(std::chrono::sys_seconds time) {
  const std::time_t seconds = time.time_since_epoch().count();
  std::tm parts{};
  localtime_r(&seconds, &parts);
  char text[64];
  return std::string(text, std::strftime(text, sizeof text, "%x %X", &parts));
}

}  // namespace

ReplaceAnswer TextPrompter::ConfirmReplace(const ReplaceQuestion& question) {
  out_ << question.Text(LocalTime) << '\n';
  for (std::string line;;) {
    out_ << "[Y]es, Yes to [A]ll, [N]o, [C]ancel? " << std::flush;
    if (!std::getline(in_, line)) return ReplaceAnswer::Cancel;
    const std::string answer = UpperAscii(Trim(line));
    if (answer == "Y" || answer == "YES") return ReplaceAnswer::Yes;
    if (answer == "A" || answer == "ALL") return ReplaceAnswer::YesToAll;
    if (answer == "N" || answer == "NO") return ReplaceAnswer::No;
    if (answer == "C" || answer == "CANCEL") return ReplaceAnswer::Cancel;
  }
}

void TextPrompter::Copying(const std::filesystem::path& from, const std::filesystem::path& to) {
  out_ << "Copying " << from.filename().string() << " from '"
       << from.parent_path().filename().string() << "' to '" << to.filename().string() << "'\n";
}

}  // namespace tarnwick
