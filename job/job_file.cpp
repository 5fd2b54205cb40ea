#include "job/job_file.h"

#include <toml++/toml.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <sstream>

#include "image/binary_file.h"
#include "image/file_io.h"
#include "image/hex_file.h"
#include "image/serial_layout.h"
#include "image/sha256.h"
#include "image/srec.h"
#include "image/strict_hex.h"
#include "link/chips.h"

namespace zelwik {
namespace {

struct StepInfo {
  JobStep step;
  const char* name;
  int rank;  // a step may only follow steps of a lower rank
};
constexpr StepInfo kSteps[] = {
    {JobStep::BlankCheck, "blank-check", 0},
    {JobStep::Erase, "erase", 1},
    {JobStep::Program, "program", 2},
    {JobStep::Verify, "verify", 3},
    {JobStep::Lock1, "lock1", 4},
    {JobStep::Lock2, "lock2", 4},
    {JobStep::Lock3, "lock3", 4},
    {JobStep::LockAll, "lock", 4},
};

const StepInfo& InfoOf(JobStep step) { return kSteps[static_cast<std::size_t>(step)]; }

constexpr const char* kFormatNames[] = {"hex", "bin", "srec"};      // in FileFormat's order
constexpr const char* kRepeatNames[] = {"once", "prompt", "auto"};  // in JobRepeat's order

bool HasStep(const std::vector<JobStep>& steps, std::initializer_list<JobStep> any) {
  return std::any_of(steps.begin(), steps.end(),
                     [&](JobStep s) { return std::find(any.begin(), any.end(), s) != any.end(); });
}

// Thrown inside the reader with the whole message, caught at its top.
struct Refused {
  std::string text;
};

std::string TypeName(const toml::node& node) {
  switch (node.type()) {
    case toml::node_type::string:
      return "a string";
    case toml::node_type::integer:
      return "an integer";
    case toml::node_type::floating_point:
      return "a number with a fraction";
    case toml::node_type::boolean:
      return "true or false";
    case toml::node_type::array:
      return "an array";
    case toml::node_type::table:
      return "a table";
    default:
      return "a date or a time";
  }
}

class Reader {
 public:
  explicit Reader(const std::string& path) : path_(path) {}

  [[noreturn]] void Fail(const toml::source_region& where, std::string_view key,
                         const std::string& what) const {
    std::string text = path_ + ": ";
    if (where.begin.line > 0) text += "line " + std::to_string(where.begin.line) + ": ";
    throw Refused{text + std::string(key) + ": " + what};
  }
  [[noreturn]] void Fail(const toml::node& node, std::string_view key,
                         const std::string& what) const {
    Fail(node.source(), key, what);
  }
  // A message that names its key itself.
  [[noreturn]] void Fail(const toml::node& node, const std::string& message) const {
    std::string text = path_ + ": ";
    if (node.source().begin.line > 0)
      text += "line " + std::to_string(node.source().begin.line) + ": ";
    throw Refused{text + message};
  }

  // Every key of the table is one the format knows.
  void OnlyKeys(const toml::table& table, std::string_view prefix,
                std::initializer_list<std::string_view> known) const {
    for (auto&& [key, value] : table) {
      if (std::find(known.begin(), known.end(), key.str()) == known.end())
        Fail(key.source(), Dotted(prefix, key.str()), "unknown key");
    }
  }

  const toml::node* Find(const toml::table& table, std::string_view prefix, std::string_view key,
                         bool required) const {
    const toml::node* node = table.get(key);
    if (!node && required) {
      std::string text = path_ + ": ";
      if (!prefix.empty() && table.source().begin.line > 0)
        text += "line " + std::to_string(table.source().begin.line) + ": ";
      throw Refused{text + "missing key '" + Dotted(prefix, key) + "'"};
    }
    return node;
  }

  std::optional<std::string> Text(const toml::table& table, std::string_view prefix,
                                  std::string_view key, bool required) const {
    const toml::node* node = Find(table, prefix, key, required);
    if (!node) return std::nullopt;
    return TextOf(*node, Dotted(prefix, key));
  }

  std::string TextOf(const toml::node& node, const std::string& name) const {
    const auto* value = node.as_string();
    if (!value) Fail(node, name, "must be a string, not " + TypeName(node));
    const std::string& text = value->get();
    if (text.empty()) Fail(node, name, "must not be empty");
    // Names and paths reach file systems, terminals and the CSV log: no control characters.
    for (unsigned char c : text)
      if (c < 0x20 || c == 0x7F) Fail(node, name, "must not hold control characters");
    return text;
  }

  std::optional<std::int64_t> Integer(const toml::table& table, std::string_view prefix,
                                      std::string_view key, bool required) const {
    const toml::node* node = Find(table, prefix, key, required);
    if (!node) return std::nullopt;
    const auto* value = node->as_integer();
    if (!value) Fail(*node, Dotted(prefix, key), "must be an integer, not " + TypeName(*node));
    return value->get();
  }

  bool Flag(const toml::table& table, std::string_view prefix, std::string_view key) const {
    const toml::node* node = Find(table, prefix, key, false);
    if (!node) return false;
    const auto* value = node->as_boolean();
    if (!value) Fail(*node, Dotted(prefix, key), "must be true or false, not " + TypeName(*node));
    return value->get();
  }

  const toml::table* Table(const toml::table& table, std::string_view key) const {
    const toml::node* node = table.get(key);
    if (!node) return nullptr;
    if (!node->is_table()) Fail(*node, key, "must be a table, not " + TypeName(*node));
    return node->as_table();
  }

  template <std::size_t N>
  int Choice(const toml::table& table, std::string_view key, const char* const (&names)[N],
             int fallback, std::string_view prefix = {}) const {
    const toml::node* node = Find(table, prefix, key, fallback < 0);
    if (!node) return fallback;
    const std::string text = TextOf(*node, Dotted(prefix, key));
    for (std::size_t i = 0; i < N; ++i)
      if (text == names[i]) return static_cast<int>(i);
    std::string list;
    for (const char* name : names) list += (list.empty() ? "" : ", ") + std::string(name);
    Fail(*node, Dotted(prefix, key), "takes " + list + ", not '" + text + "'");
  }

  static std::string Dotted(std::string_view prefix, std::string_view key) {
    return prefix.empty() ? std::string(key) : std::string(prefix) + "." + std::string(key);
  }

 private:
  const std::string& path_;
};

bool IsAbsolutePath(const std::string& path) {
  if (!path.empty() && (path[0] == '/' || path[0] == '\\')) return true;
  return path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':';
}

std::filesystem::path Utf8Path(const std::string& text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

std::string Utf8Text(const std::filesystem::path& path) {
  const std::u8string text = path.generic_u8string();
  return std::string(text.begin(), text.end());
}

std::string Quoted(const std::string& text) {
  std::ostringstream out;
  out << toml::value<std::string>(text);
  return out.str();
}

bool NonAscii(char c) { return static_cast<unsigned char>(c) >= 0x80; }

// One UTF-8 character from text[i] on, strictly (no overlong forms, surrogates or values beyond
// U+10FFFF); i moves past it.
bool DecodeUtf8(std::string_view text, std::size_t& i, char32_t& cp) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
  if (length == 0 || lead > 0xF4 || i + length > text.size()) return false;
  cp = lead & (0x7F >> length);
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return false;
    cp = cp << 6 | (byte(i + k) & 0x3F);
  }
  constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kLeast[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
  i += length;
  return true;
}

// toml++ 3.3 reaches code it marks unreachable (undefined behaviour) when it asks whether some
// characters beyond ASCII are blanks, which it does wherever it scans ahead outside a string. So
// the parser gets ASCII only. TOML allows other characters in strings and comments alone: in a
// string each becomes a \U escape (a literal string becomes a basic one, its backslashes and
// quotes escaped), in a comment '?'. One anywhere else, or text that is not UTF-8, is refused
// here, with its line. Line ends stay where they are, so the parser's lines are the file's.
bool AsciiToml(std::string_view text, std::string& out, std::string& why) {
  int line = 1;
  std::size_t i = text.starts_with("\xEF\xBB\xBF") ? 3 : 0;  // the byte order mark
  const std::size_t n = text.size();
  out.clear();
  const auto at = [&](std::string_view what) { return text.substr(i, what.size()) == what; };
  const auto fail = [&](const char* what) {
    why = "line " + std::to_string(line) + ": " + what;
    return false;
  };
  // One character beyond ASCII, checked; escaped in a string.
  const auto wide = [&](bool inString) {
    char32_t cp = 0;
    if (!DecodeUtf8(text, i, cp)) return fail("not UTF-8 text");
    char escape[11];
    std::snprintf(escape, sizeof escape, "\\U%08X", static_cast<unsigned>(cp));
    out += inString ? escape : "?";
    return true;
  };
  // One character of a string's content.
  const auto content = [&](bool literal) {
    const char c = text[i];
    if (NonAscii(c)) return wide(true);
    if (literal && (c == '\\' || c == '"')) out += '\\';
    out += c;
    line += c == '\n';
    ++i;
    return true;
  };
  // A basic string's backslash and the character it escapes, which the parser judges.
  const auto escaped = [&] {
    out += text[i++];
    if (i < n && NonAscii(text[i])) return fail("a backslash before a character that is not ASCII");
    if (i < n && text[i] != '\n') out += text[i++];
    return true;
  };
  while (i < n) {
    const char c = text[i];
    if (c == '#') {
      while (i < n && text[i] != '\n')
        if (NonAscii(text[i]) ? !wide(false) : (out += text[i++], false)) return false;
    } else if (at("\"\"\"")) {
      out += "\"\"\"";
      for (i += 3; i < n && !at("\"\"\"");)
        if (!(text[i] == '\\' ? escaped() : content(false))) return false;
      while (i < n && text[i] == '"') out += text[i++];
    } else if (at("'''")) {
      out += "\"\"\"";
      for (i += 3; i < n && !at("'''");)
        if (!content(true)) return false;
      std::size_t run = 0;
      for (; i < n && text[i] == '\''; ++i) ++run;
      if (run > 5) return fail("more than five quotes closing a string");
      if (run >= 3) out += std::string(run - 3, '\'') + "\"\"\"";
    } else if (c == '"' || c == '\'') {
      out += '"';
      for (++i; i < n && text[i] != c && text[i] != '\n';)
        if (!(c == '"' && text[i] == '\\' ? escaped() : content(c == '\''))) return false;
      if (i < n && text[i] == c) {
        out += '"';
        ++i;
      }
    } else if (NonAscii(c)) {
      return fail("a character that is not ASCII outside a string or comment");
    } else {
      out += c;
      line += c == '\n';
      ++i;
    }
  }
  return true;
}

Job ParseTable(const toml::table& root, const Reader& read) {
  Job job;
  const toml::node* version = root.get("zelwik_job");
  if (!version) throw Refused{"not a job file: no 'zelwik_job = 1' in it"};
  job.format = static_cast<int>(
      std::clamp<std::int64_t>(*read.Integer(root, {}, "zelwik_job", true), INT_MIN, INT_MAX));
  if (job.format > kJobFormat)
    read.Fail(*version, "zelwik_job",
              "format " + std::to_string(job.format) + " is newer than this Zelwik reads (" +
                  std::to_string(kJobFormat) + "); open it with a newer Zelwik");
  if (job.format < 1) read.Fail(*version, "zelwik_job", "is not a format number");
  read.OnlyKeys(root, {},
                {"zelwik_job", "name", "chip", "steps", "image", "serial", "log", "repeat",
                 "timeout_ms", "ports"});

  job.name = read.Text(root, {}, "name", false).value_or("");

  const toml::node& chipNode = *read.Find(root, {}, "chip", true);
  const std::string chipName = read.TextOf(chipNode, "chip");
  const ChipInfo* chip = FindChipByName(chipName);
  if (!chip) read.Fail(chipNode, "chip", "unknown chip '" + chipName + "'");
  if (chip->code == ChipCode::Detect)
    read.Fail(chipNode, "chip", "a job names its chip; auto would take whatever is in the socket");
  job.chip = chip->cliName;

  const toml::node& stepsNode = *read.Find(root, {}, "steps", true);
  const toml::array* steps = stepsNode.as_array();
  if (!steps) read.Fail(stepsNode, "steps", "must be an array, not " + TypeName(stepsNode));
  if (steps->empty()) read.Fail(stepsNode, "steps", "names no step");
  const StepInfo* last = nullptr;
  for (const toml::node& element : *steps) {
    const std::string name = read.TextOf(element, "steps");
    const auto* info = std::find_if(std::begin(kSteps), std::end(kSteps),
                                    [&](const StepInfo& s) { return name == s.name; });
    if (info == std::end(kSteps))
      read.Fail(element, "steps",
                "'" + name +
                    "' is not a step (blank-check, erase, program, verify, lock1, "
                    "lock2, lock3, lock)");
    if (last && info->rank == last->rank)
      read.Fail(element, "steps",
                info->rank == 4 ? "one lock step at most" : "'" + name + "' is given twice");
    if (last && info->rank < last->rank)
      read.Fail(element, "steps",
                "'" + name + "' cannot come after '" + std::string(last->name) + "'");
    if (info->step == JobStep::Lock3 && CommandsOf(chip->group)->lock3 == kNoCommand)
      read.Fail(element, "steps", "the " + job.chip + " has no lock bit 3");
    job.steps.push_back(info->step);
    last = info;
  }

  const bool usesImage = HasStep(job.steps, {JobStep::Program, JobStep::Verify});
  if (const toml::table* image = read.Table(root, "image")) {
    if (!usesImage) read.Fail(*image, "image", "no step programs or verifies it");
    read.OnlyKeys(*image, "image", {"file", "format", "strict", "sha256", "bytes"});
    JobImage& described = job.image.emplace();
    described.file = *read.Text(*image, "image", "file", true);
    described.format =
        static_cast<FileFormat>(read.Choice(*image, "format", kFormatNames, -1, "image"));
    described.strict = read.Flag(*image, "image", "strict");
    if (described.strict && described.format != FileFormat::Hex)
      read.Fail(*image->get("strict"), "image.strict", "goes with format = \"hex\"");
    const toml::node& shaNode = *read.Find(*image, "image", "sha256", true);
    described.sha256 = read.TextOf(shaNode, "image.sha256");
    if (described.sha256.size() != 64 ||
        !std::all_of(described.sha256.begin(), described.sha256.end(),
                     [](unsigned char c) { return std::isxdigit(c); }))
      read.Fail(shaNode, "image.sha256", "must be 64 hex digits");
    std::transform(described.sha256.begin(), described.sha256.end(), described.sha256.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const std::int64_t bytes = *read.Integer(*image, "image", "bytes", true);
    if (bytes < 0 || bytes > kImageSize)
      read.Fail(*image->get("bytes"), "image.bytes", "must be 0 to 65536");
    if (bytes > chip->memorySize)
      read.Fail(*image->get("bytes"), "image.bytes",
                std::to_string(bytes) + " bytes do not fit the " + job.chip + "'s " +
                    std::to_string(chip->memorySize));
    described.bytes = static_cast<int>(bytes);
  } else if (usesImage) {
    read.Fail(stepsNode, "steps", "program and verify need an [image]");
  }

  if (const toml::table* serial = read.Table(root, "serial")) {
    if (!HasStep(job.steps, {JobStep::Program}))
      read.Fail(*serial, "serial", "goes with the program step");
    read.OnlyKeys(*serial, "serial", {"layout", "file", "overwrite"});
    JobSerial& stamp = job.serial.emplace();
    const toml::node& layoutNode = *read.Find(*serial, "serial", "layout", true);
    stamp.layout = read.TextOf(layoutNode, "serial.layout");
    std::string why;
    const std::optional<SerialLayout> layout =
        ParseSerialLayout(stamp.layout, why, "serial.layout");
    if (!layout) read.Fail(layoutNode, why);
    if (layout->address + layout->width > chip->memorySize)
      read.Fail(layoutNode, "serial.layout",
                "the number does not fit in the " + job.chip + "'s " +
                    std::to_string(chip->memorySize) + " bytes");
    stamp.file = *read.Text(*serial, "serial", "file", true);
    stamp.overwrite = read.Flag(*serial, "serial", "overwrite");
  }

  job.log = read.Text(root, {}, "log", false).value_or("");
  job.repeat = static_cast<JobRepeat>(read.Choice(root, "repeat", kRepeatNames, 0));
  if (job.repeat != JobRepeat::Once &&
      !HasStep(job.steps, {JobStep::Erase, JobStep::Program, JobStep::Lock1, JobStep::Lock2,
                           JobStep::Lock3, JobStep::LockAll}))
    read.Fail(*root.get("repeat"), "repeat", "goes with a step that changes the chip");

  if (const auto ms = read.Integer(root, {}, "timeout_ms", false)) {
    if (*ms <= 0 || *ms > INT_MAX)
      read.Fail(*root.get("timeout_ms"), "timeout_ms", "must be a positive number of milliseconds");
    job.timeoutMs = static_cast<int>(*ms);
  }

  if (const toml::node* portsNode = root.get("ports")) {
    const toml::array* ports = portsNode->as_array();
    if (!ports) read.Fail(*portsNode, "ports", "must be an array, not " + TypeName(*portsNode));
    for (const toml::node& element : *ports) {
      std::string port = read.TextOf(element, "ports");
      if (std::find(job.ports.begin(), job.ports.end(), port) != job.ports.end())
        read.Fail(element, "ports", "'" + port + "' is given twice");
      job.ports.push_back(std::move(port));
    }
  }
  return job;
}

}  // namespace

const char* StepName(JobStep step) { return InfoOf(step).name; }

std::optional<JobStep> StepNamed(std::string_view name) {
  for (const StepInfo& info : kSteps)
    if (name == info.name) return info.step;
  return std::nullopt;
}

const OperationEntry& StepOperation(JobStep step) { return *FindOperation(StepName(step)); }

std::optional<Job> ParseJob(std::string_view text, const std::string& path, std::string& why) {
  if (text.find_first_not_of(" \t\r\n") == std::string_view::npos) {
    why = path + ": the file is empty";
    return std::nullopt;
  }
  std::string ascii;
  if (!AsciiToml(text, ascii, why)) {
    why = path + ": " + why;
    return std::nullopt;
  }
  try {
    const toml::table root = toml::parse(ascii, std::string_view(path));
    return ParseTable(root, Reader(path));
  } catch (const toml::parse_error& e) {
    why = path + ": line " + std::to_string(e.source().begin.line) + ": " +
          std::string(e.description());
  } catch (const Refused& refused) {
    why = refused.text.rfind(path + ": ", 0) == 0 ? refused.text : path + ": " + refused.text;
  }
  return std::nullopt;
}

std::optional<Job> ReadJob(const std::string& path, std::string& why) {
  std::string text;
  if (!ReadWholeFile(path, text)) {
    why = path + ": cannot be read";
    return std::nullopt;
  }
  if (text.size() > kMaxJobFileBytes) {
    why = path + ": " + std::to_string(text.size()) + " bytes, too large for a job file";
    return std::nullopt;
  }
  return ParseJob(text, path, why);
}

std::string JobText(const Job& job) {
  std::string text =
      "# A Zelwik job: the image's checksum is compared before every run; a changed file is "
      "refused.\n";
  text += "zelwik_job = " + std::to_string(job.format) + "\n";
  if (!job.name.empty()) text += "name = " + Quoted(job.name) + "\n";
  text += "chip = " + Quoted(job.chip) + "\n";
  text += "steps = [";
  for (std::size_t i = 0; i < job.steps.size(); ++i)
    text += (i ? ", " : "") + Quoted(StepName(job.steps[i]));
  text += "]\n";
  text += "repeat = " + Quoted(kRepeatNames[static_cast<int>(job.repeat)]) + "\n";
  if (job.timeoutMs) text += "timeout_ms = " + std::to_string(*job.timeoutMs) + "\n";
  if (!job.ports.empty()) {
    text += "ports = [";
    for (std::size_t i = 0; i < job.ports.size(); ++i)
      text += (i ? ", " : "") + Quoted(job.ports[i]);
    text += "]\n";
  }
  if (!job.log.empty()) text += "log = " + Quoted(job.log) + "\n";
  if (job.image) {
    text += "\n[image]\n";
    text += "file = " + Quoted(job.image->file) + "\n";
    text += "format = " + Quoted(kFormatNames[static_cast<int>(job.image->format)]) + "\n";
    if (job.image->strict) text += "strict = true\n";
    text += "sha256 = " + Quoted(job.image->sha256) + "\n";
    text += "bytes = " + std::to_string(job.image->bytes) + "\n";
  }
  if (job.serial) {
    text += "\n[serial]\n";
    text += "layout = " + Quoted(job.serial->layout) + "\n";
    text += "file = " + Quoted(job.serial->file) + "\n";
    if (job.serial->overwrite) text += "overwrite = true\n";
  }
  return text;
}

bool WriteJob(const std::string& path, const Job& job, std::string& why) {
  const std::string text = JobText(job);
  // A job that would not read back is never written: the operator would find it refused.
  if (!ParseJob(text, path, why)) return false;
  if (!ReplaceWholeFile(path, text)) {
    why = path + ": cannot be written";
    return false;
  }
  return true;
}

std::string JobName(const Job& job, const std::string& jobPath) {
  if (!job.name.empty()) return job.name;
  const std::size_t slash = jobPath.find_last_of("/\\");
  std::string name = slash == std::string::npos ? jobPath : jobPath.substr(slash + 1);
  if (const std::size_t dot = name.rfind('.'); dot != std::string::npos && dot > 0)
    name.resize(dot);
  return name;
}

std::string JobFilePath(const std::string& jobPath, const std::string& file) {
  if (IsAbsolutePath(file)) return file;
  const std::size_t slash = jobPath.find_last_of("/\\");
  return slash == std::string::npos ? file : jobPath.substr(0, slash + 1) + file;
}

std::string PathForJob(const std::string& jobPath, const std::string& file) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path target = fs::absolute(Utf8Path(file), ec).lexically_normal();
  if (ec) return Utf8Text(Utf8Path(file));
  const fs::path folder = fs::absolute(Utf8Path(jobPath), ec).parent_path().lexically_normal();
  if (ec || target.root_name() != folder.root_name()) return Utf8Text(target);
  const fs::path relative = target.lexically_relative(folder);
  return relative.empty() ? Utf8Text(target) : Utf8Text(relative);
}

void DescribeImage(JobImage& described, const Image& image) {
  described.bytes = image.ImageEnd + 1;
  described.sha256 = Sha256Hex(image.MemoryImage.data(), static_cast<std::size_t>(described.bytes));
}

bool LoadJobImage(const Job& job, const std::string& jobPath, Image& image, std::string& why) {
  if (!job.image) return true;
  const std::string path = JobFilePath(jobPath, job.image->file);
  const std::string where = jobPath + ": image " + job.image->file + ": ";
  auto scratch = std::make_unique<Image>();
  LoadResult result;
  switch (job.image->format) {
    case FileFormat::Hex:
      if (!job.image->strict) {
        if (!LoadHexFile(*scratch, path)) result.error = LoadResult::Error::Unreadable;
      } else {
        result = LoadStrictHexFile(*scratch, path);
      }
      break;
    case FileFormat::Binary:
      result = LoadBinaryFile(*scratch, path);
      break;
    case FileFormat::Srec:
      result = LoadSrecFile(*scratch, path);
      break;
  }
  if (result.error == LoadResult::Error::Unreadable) {
    why = where + "cannot be read";
    return false;
  }
  if (!result.Ok()) {
    why = where + RefusalReason(result, job.image->format) + "; file refused";
    return false;
  }
  image = *scratch;
  return true;
}

bool MatchJobImage(const Job& job, const std::string& jobPath, const Image& image,
                   std::string& why) {
  if (!job.image) return true;
  const std::string where = jobPath + ": image " + job.image->file + ": ";
  JobImage found;
  DescribeImage(found, image);
  // The job's bytes fit its chip (the reader checks), so an image that matches fits too.
  if (found.sha256 != job.image->sha256 || found.bytes != job.image->bytes) {
    why = where + "the file has changed since the job was made: expected " + job.image->sha256 +
          " (" + std::to_string(job.image->bytes) + " bytes), found " + found.sha256 + " (" +
          std::to_string(found.bytes) + " bytes)";
    return false;
  }
  if (job.serial && !job.serial->overwrite) {
    std::string ignored;
    const std::optional<SerialLayout> layout = ParseSerialLayout(job.serial->layout, ignored);
    for (int a = layout ? layout->address : 0; layout && a < layout->address + layout->width; ++a) {
      if (image.MemoryImage[static_cast<std::size_t>(a)] == kEmptyByte) continue;
      char at[8];
      std::snprintf(at, sizeof at, "%04X", static_cast<unsigned>(a));
      why = where + "the file has data at " + at +
            ", where the serial number goes (serial.overwrite = true replaces it)";
      return false;
    }
  }
  return true;
}

bool CheckJobImage(const Job& job, const std::string& jobPath, Image& image, std::string& why) {
  if (!job.image) return true;
  auto loaded = std::make_unique<Image>();
  if (!LoadJobImage(job, jobPath, *loaded, why) || !MatchJobImage(job, jobPath, *loaded, why))
    return false;
  image = *loaded;
  return true;
}

bool IsJobFileName(std::string_view path) {
  const std::string_view extension = kJobExtension;
  if (path.size() <= extension.size()) return false;
  const std::string_view end = path.substr(path.size() - extension.size());
  return std::equal(end.begin(), end.end(), extension.begin(), [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) == b;
  });
}

}  // namespace zelwik
