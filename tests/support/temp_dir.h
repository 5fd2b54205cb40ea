#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

namespace zelwik::testing {

// A fresh folder under TMPDIR, removed with everything in it at the end of the test.
class TempDir {
 public:
  TempDir() : path_((std::filesystem::temp_directory_path() / "zelwik-XXXXXX").string()) {
    std::string pattern = path_.string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempDir() { std::filesystem::remove_all(path_, ec_); }
  TempDir(const TempDir&) = delete;

  std::string operator/(const std::string& name) const { return (path_ / name).string(); }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
  std::error_code ec_;
};

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

inline void WriteFile(const std::string& path, const std::string& data) {
  std::ofstream(path, std::ios::binary) << data;
}

// `text` with its first `from` replaced; a `from` it lacks is the test's own mistake.
inline std::string Replace(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  if (at == std::string::npos) throw std::invalid_argument("nothing to replace: " + from);
  return text.replace(at, from.size(), to);
}

}  // namespace zelwik::testing
