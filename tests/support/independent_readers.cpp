#include "support/independent_readers.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string_view>

extern char** environ;

namespace tarnwick::test {
namespace {

struct RunResult {
  int exitStatus = -1;
  std::string out;
  std::string err;
};

std::string Slurp(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Runs a program found on PATH with stdout and stderr captured through files.
RunResult Run(std::vector<std::string> args) {
  static std::atomic<int> counter{0};
  std::filesystem::path base =
      std::filesystem::temp_directory_path() /
      ("tarnwick-reader-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
  std::string outPath = base.string() + ".out";
  std::string errPath = base.string() + ".err";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  RunResult result;
  pid_t pid = 0;
  int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    result.err = "cannot start " + args[0];
    return result;
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = Slurp(outPath);
  result.err = Slurp(errPath);
  std::filesystem::remove(outPath);
  std::filesystem::remove(errPath);
  return result;
}

std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    size_t end = text.find('\n');
    lines.push_back(text.substr(0, end));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Appends the bytes; false on an odd length or a bad digit.
bool DecodeHex(std::string_view hex, std::vector<uint8_t>& out) {
  if (hex.size() % 2 != 0) return false;
  for (size_t i = 0; i < hex.size(); i += 2) {
    int high = HexDigit(hex[i]);
    int low = HexDigit(hex[i + 1]);
    if (high < 0 || low < 0) return false;
    out.push_back(static_cast<uint8_t>(high << 4 | low));
  }
  return true;
}

bool IsDumpLine(std::string_view line) {
  if (line.size() < 10 || line[8] != ':' || line[9] != ' ') return false;
  for (size_t i = 0; i < 8; ++i) {
    if (HexDigit(line[i]) < 0) return false;
  }
  return true;
}

uint32_t CregexportType(std::string_view text) {
  static constexpr std::pair<std::string_view, uint32_t> kNames[] = {
      {"(REG_NONE)", 0},
      {"(REG_SZ)", 1},
      {"(REG_EXPAND_SZ)", 2},
      {"(REG_BINARY)", 3},
      {"(REG_DWORD_LITTLE_ENDIAN)", 4},
      {"(REG_DWORD_BIG_ENDIAN)", 5},
      {"(REG_LINK)", 6},
      {"(REG_MULTI_SZ)", 7},
      {"(REG_RESOURCE_LIST)", 8},
      {"(REG_FULL_RESOURCE_DESCRIPTOR)", 9},
      {"(REG_RESOURCE_REQUIREMENTS_LIST)", 10},
      {"(REG_QWORD_LITTLE_ENDIAN)", 11},
  };
  for (auto [name, type] : kNames) {
    if (text.size() >= name.size() && text.substr(text.size() - name.size()) == name) return type;
  }
  if (StartsWith(text, "unknown: 0x")) {
    return static_cast<uint32_t>(std::stoul(std::string(text.substr(11)), nullptr, 16));
  }
  return 0xFFFFFFFF;
}

// The bytes of the value starting at lines[i] ("Value: ..."), from its hex dump or, for integers
// shown only in decimal, from that number.
std::vector<uint8_t> CregexportData(const std::vector<std::string_view>& lines, size_t i,
                                    uint32_t type, size_t size, std::string& complaints) {
  std::vector<uint8_t> data;
  if (size == 0) return data;
  for (size_t j = i + 1; j < lines.size(); ++j) {
    std::string_view line = lines[j];
    if (StartsWith(line, "Value: ") || StartsWith(line, "Key path: ")) break;
    if (line == "Data:" && j + 1 < lines.size() && IsDumpLine(lines[j + 1])) {
      for (size_t k = j + 1; data.size() < size && k < lines.size() && IsDumpLine(lines[k]); ++k) {
        // At most 16 bytes a line; the printable column after them may look like hex too.
        std::string_view bytes = lines[k].substr(10);
        size_t lineEnd = std::min(size, data.size() + 16);
        for (size_t at = 0; data.size() < lineEnd && at + 1 < bytes.size();) {
          if (bytes[at] == ' ') {
            ++at;
            continue;
          }
          DecodeHex(bytes.substr(at, 2), data);
          at += 2;
        }
      }
      if (data.size() != size) complaints += "short hex dump at line " + std::to_string(j) + "\n";
      return data;
    }
    if (StartsWith(line, "Data: ") && (type == 4 || type == 5 || type == 11)) {
      uint64_t number = std::stoull(std::string(line.substr(6)));
      for (size_t b = 0; b < size; ++b) {
        size_t shift = type == 5 ? size - 1 - b : b;
        data.push_back(static_cast<uint8_t>(number >> (8 * shift)));
      }
      return data;
    }
  }
  complaints += "no data for the value at line " + std::to_string(i) + "\n";
  return data;
}

constexpr std::string_view kPerlScript = R"(
use Encode;
binmode STDOUT;
Parse::Win32Registry::enable_warnings();
my $r = Parse::Win32Registry->new($ARGV[0]) or die "not a registry file\n";
sub h { unpack("H*", encode_utf8($_[0])) }
sub w {
  my ($k, $p) = @_;
  print "K ", h($p), "\n";
  printf "V %s %u %s\n", h($_->get_name), $_->get_type, unpack("H*", $_->get_raw_data // "")
    for $k->get_list_of_values;
  w($_, $p eq "" ? $_->get_name : "$p\\" . $_->get_name) for $k->get_list_of_subkeys;
}
w($r->get_root_key, "");
)";

void AppendUtf8(uint32_t code, std::string& out) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | code >> 6);
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | code >> 12);
    out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

std::string DecodeCp1252(std::string_view ansi) {
  static constexpr uint16_t k80To9F[32] = {
      0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};
  std::string out;
  for (char c : ansi) {
    auto b = static_cast<uint8_t>(c);
    AppendUtf8(b >= 0x80 && b < 0xA0 ? k80To9F[b - 0x80] : b, out);
  }
  return out;
}

}  // namespace

ReaderOutput ReadWithCregexport(const std::filesystem::path& file) {
  RunResult run = Run({"cregexport", file.string()});
  ReaderOutput output{run.exitStatus, run.err, {}};
  std::vector<std::string_view> lines = Lines(run.out);
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string_view line = lines[i];
    if (StartsWith(line, "Key path: ")) {
      output.keys.push_back({std::string(line.substr(10)), {}});
    } else if (StartsWith(line, "Value: ") && !output.keys.empty()) {
      std::string_view rest = line.substr(7);
      std::string_view name = rest.substr(std::min(rest.find(' '), rest.size()));
      if (!name.empty()) name.remove_prefix(1);
      ExportedValue value{name == "(default)" ? "" : std::string(name), 0xFFFFFFFF, {}};
      size_t size = 0;
      if (i + 2 < lines.size() && StartsWith(lines[i + 1], "Type: ") &&
          StartsWith(lines[i + 2], "Data size: ")) {
        value.type = CregexportType(lines[i + 1].substr(6));
        size = std::stoul(std::string(lines[i + 2].substr(11)));
        value.data = CregexportData(lines, i, value.type, size, output.diagnostics);
      } else {
        output.diagnostics += "unexpected lines after line " + std::to_string(i) + "\n";
      }
      output.keys.back().values.push_back(std::move(value));
    }
  }
  return output;
}

ReaderOutput ReadWithParseWin32Registry(const std::filesystem::path& file) {
  RunResult run =
      Run({"perl", "-MParse::Win32Registry", "-e", std::string(kPerlScript), file.string()});
  ReaderOutput output{run.exitStatus, run.err, {}};
  for (std::string_view line : Lines(run.out)) {
    std::vector<std::string_view> fields;
    for (size_t at = 0;;) {
      size_t space = line.find(' ', at);
      fields.push_back(line.substr(at, space == std::string_view::npos ? space : space - at));
      if (space == std::string_view::npos) break;
      at = space + 1;
    }
    std::vector<uint8_t> name;
    if (fields.size() == 2 && fields[0] == "K" && DecodeHex(fields[1], name)) {
      output.keys.push_back({std::string(name.begin(), name.end()), {}});
      continue;
    }
    ExportedValue value;
    if (fields.size() == 4 && fields[0] == "V" && !output.keys.empty() &&
        DecodeHex(fields[1], name) && DecodeHex(fields[3], value.data)) {
      value.name.assign(name.begin(), name.end());
      value.type = static_cast<uint32_t>(std::stoul(std::string(fields[2])));
      output.keys.back().values.push_back(std::move(value));
      continue;
    }
    output.diagnostics += "unexpected line: " + std::string(line) + "\n";
  }
  return output;
}

std::vector<ExportedKey> ExportTree(const RegNode& root) {
  std::vector<ExportedKey> keys;
  std::vector<std::pair<const RegNode*, std::string>> pending{{&root, ""}};
  while (!pending.empty()) {
    auto [node, path] = std::move(pending.back());
    pending.pop_back();
    ExportedKey& key = keys.emplace_back(ExportedKey{path, {}});
    for (const RegValue& value : node->values) {
      key.values.push_back({DecodeCp1252(value.name), value.type, value.data});
    }
    for (auto it = node->subkeys.rbegin(); it != node->subkeys.rend(); ++it) {
      std::string name = DecodeCp1252((*it)->name);
      pending.emplace_back(it->get(), path.empty() ? name : path + "\\" + name);
    }
  }
  return keys;
}

std::string FirstDifference(const std::vector<ExportedKey>& got,
                            const std::vector<ExportedKey>& expected) {
  std::ostringstream text;
  for (size_t i = 0; i < std::min(got.size(), expected.size()); ++i) {
    const ExportedKey& a = got[i];
    const ExportedKey& b = expected[i];
    if (a == b) continue;
    text << "key " << i << ": ";
    if (a.path != b.path) {
      text << "path [" << a.path << "] instead of [" << b.path << "]";
      return text.str();
    }
    text << "[" << a.path << "] ";
    for (size_t v = 0; v < std::min(a.values.size(), b.values.size()); ++v) {
      if (a.values[v] == b.values[v]) continue;
      text << "value " << v << "\n  got      ";
      PrintTo(a.values[v], &text);
      text << "\n  expected ";
      PrintTo(b.values[v], &text);
      return text.str();
    }
    text << a.values.size() << " values instead of " << b.values.size();
    return text.str();
  }
  if (got.size() != expected.size()) {
    text << got.size() << " keys instead of " << expected.size();
  }
  return text.str();
}

void PrintTo(const ExportedValue& value, std::ostream* out) {
  *out << "\"" << value.name << "\" type " << value.type << " data";
  char hex[4];
  for (size_t i = 0; i < std::min<size_t>(value.data.size(), 64); ++i) {
    std::snprintf(hex, sizeof hex, " %02x", value.data[i]);
    *out << hex;
  }
  if (value.data.size() > 64) *out << " ... (" << value.data.size() << " bytes)";
}

void PrintTo(const ExportedKey& key, std::ostream* out) {
  *out << "[" << key.path << "]";
  for (const ExportedValue& value : key.values) {
    *out << "\n  ";
    PrintTo(value, out);
  }
}

}  // namespace tarnwick::test
