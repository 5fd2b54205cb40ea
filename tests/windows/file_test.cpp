// The Windows file layer: wide-character names and the replace that keeps the old file; the
// command line on the Win32 port. The operations run end to end under wine in run.sh, their
// frames compared with the Linux build's.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "image/file_io.h"
#include "image/hex_file.h"
#include "image/text_win32.h"
#include "job/job_file.h"
#include "link/port_list.h"
#include "ops/hex_files.h"
#include "ops/texts.h"
#include "support/recording_view.h"

namespace zelwik {
namespace {

namespace fs = std::filesystem;

fs::path Native(const std::string& utf8) { return std::u8string(utf8.begin(), utf8.end()); }
std::string Utf8(const fs::path& path) {
  const std::u8string name = path.u8string();
  return {name.begin(), name.end()};
}

// A fresh folder with a Polish name under the temporary folder, removed at the end. The names in
// it are read back through the wide-character API, not the code under test.
class PolishFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ =
        fs::temp_directory_path() / Native("Użytkownik-" + std::to_string(GetCurrentProcessId()));
    ASSERT_TRUE(fs::create_directory(folder_));
    dir_ = Utf8(folder_) + "\\";
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(folder_, ec);
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder_))
      names.push_back(Utf8(entry.path().filename()));
    std::sort(names.begin(), names.end());
    return names;
  }
  fs::path folder_;
  std::string dir_;
};

// An image and a job under Polish names, the job in a folder below the image's: saved, listed
// through the wide-character API, read back and checked; another drive stays absolute.
TEST_F(PolishFolder, ImageAndJobUnderPolishNames) {
  Image image;
  ClearImage(image);
  for (int i = 0; i < 40; ++i) image.MemoryImage[i] = static_cast<std::uint8_t>(i * 7);
  const std::string imagePath = dir_ + "płytka źródłowa.hex";
  testing::RecordingView view;
  ASSERT_TRUE(SaveHexFileShown(image, imagePath, view));
  EXPECT_EQ(view.LastStatus(), " Zapisano 48 bajtów.");
  EXPECT_EQ(Names(), std::vector<std::string>{"płytka źródłowa.hex"});

  ASSERT_TRUE(fs::create_directory(Native(dir_ + "zadania")));
  const std::string jobPath = dir_ + "zadania\\zadanie ż.zjob";
  Job job;
  job.chip = "89C2051";
  job.steps = {JobStep::Program, JobStep::Verify};
  job.image.emplace().file = PathForJob(jobPath, imagePath);
  EXPECT_EQ(job.image->file, "../płytka źródłowa.hex");
  EXPECT_EQ(PathForJob(jobPath, "Q:\\obrazy\\x.hex"), "Q:/obrazy/x.hex");
  DescribeImage(*job.image, image);
  std::string why;
  ASSERT_TRUE(WriteJob(jobPath, job, why)) << why;
  const std::optional<Job> back = ReadJob(jobPath, why);
  ASSERT_TRUE(back) << why;
  EXPECT_EQ(*back, job);
  Image loaded;
  EXPECT_TRUE(CheckJobImage(*back, jobPath, loaded, why)) << why;
  EXPECT_TRUE(loaded.MemoryImage == image.MemoryImage);
}

// A replace overwrites; each failure leaves what was there. No temporary file is left.
TEST_F(PolishFolder, ReplaceAndItsFailures) {
  const std::string kept = dir_ + "zajęty.hex";
  std::string text;
  ASSERT_TRUE(ReplaceWholeFile(kept, "first, and longer than the second"));
  ASSERT_TRUE(ReplaceWholeFile(kept, "old"));
  // Another program holds the file without letting it be deleted or renamed over.
  HANDLE holder = CreateFileW(Native(kept).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(ReplaceWholeFile(kept, "new"));
  CloseHandle(holder);
  EXPECT_TRUE(ReadWholeFile(kept, text));
  EXPECT_EQ(text, "old");

  const std::string folder = dir_ + "katalog.hex";
  ASSERT_TRUE(fs::create_directory(Native(folder)));
  EXPECT_FALSE(ReplaceWholeFile(folder, "new"));
  EXPECT_TRUE(fs::is_directory(Native(folder)));

  EXPECT_FALSE(ReplaceWholeFile(dir_ + "brak\\plik.hex", "new"));
  EXPECT_EQ(Names(), (std::vector<std::string>{"katalog.hex", "zajęty.hex"}));
  EXPECT_FALSE(ReadWholeFile(dir_ + "brak.hex", text) || ReadWholeFile(dir_, text));
}

// The one crossing between UTF-8 and the W calls, and the system's words for an error.
TEST(Win32Text, ConversionsAndSystemErrors) {
  EXPECT_EQ(Widen("Użytkownik ł"), L"U\u017cytkownik \u0142");
  EXPECT_EQ(Narrow(Widen("zajęty \xF0\x9F\x94\x8C")), "zajęty \xF0\x9F\x94\x8C");
  EXPECT_EQ(Widen("a\xB3"), L"a\uFFFD");
  // No UTF-8: a name of the narrow calls, read in the ANSI code page character for character.
  const std::wstring ansi = Widen("a\xB3", true);
  EXPECT_EQ(ansi.size(), 2u);
  EXPECT_NE(ansi, L"a\uFFFD");
  EXPECT_EQ(Widen(""), L"");
  EXPECT_EQ(Narrow(L""), "");

  const std::string missing = SystemErrorText(ERROR_FILE_NOT_FOUND);
  ASSERT_FALSE(missing.empty());
  EXPECT_EQ(std::string(".\r\n ").find(missing.back()), std::string::npos) << missing;
  EXPECT_EQ(SystemErrorText(0x2000FFFF), "system error 536936447");
}

TEST(CommandLine, PortsThatCannotOpenAreLinkFailuresNamingWhy) {
  for (const auto& [port, why] : {std::pair{"COM199", "cannot open COM199: no such port"},
                                  std::pair{ZELWIK_DEMO_HEX, "not a serial device"}}) {
    std::ostringstream out, err;
    EXPECT_EQ(cli::RunCommandLine({"--port", port, "erase"}, out, err, nullptr), cli::kExitFailure);
    EXPECT_NE(out.str().find(kTextLinkFailure), std::string::npos) << out.str();
    EXPECT_NE(err.str().find(why), std::string::npos) << err.str();
  }
}

std::string Devices(const std::vector<PortInfo>& ports) {
  std::string out;
  for (const PortInfo& p : ports) out += p.device + (p.inUse ? " in use " : " ");
  return out;
}

// SERIALCOMM may hold values of any type, names of no port, strings without their NUL, names of
// ports long gone, or be missing: the list stays the ports that open, and nothing breaks.
TEST(PortList, SerialCommJunkOrMissingLeavesTheListAsTheOpenablePorts) {
  const wchar_t* const path = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";
  const wchar_t* const copy = L"Software\\zelwik-serialcomm";
  const auto create = [](HKEY root, const wchar_t* name, HKEY& key) {
    return RegCreateKeyExW(root, name, 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr,
                           &key, nullptr);
  };
  const std::string clean = Devices(ListSerialPorts());
  HKEY key, saved;
  ASSERT_EQ(create(HKEY_LOCAL_MACHINE, path, key), ERROR_SUCCESS);
  const DWORD number = 7;
  const wchar_t unterminated[] = {L'C', L'O', L'M', L'9'};
  const struct {
    const wchar_t* name;
    DWORD type;
    const void* data;
    DWORD bytes;
  } junk[] = {
      {L"zelwik-dword", REG_DWORD, &number, sizeof number},
      {L"zelwik-lpt", REG_SZ, L"LPT1", 10},
      {L"zelwik-unterminated", REG_SZ, unterminated, sizeof unterminated},
      {L"zelwik-odd", REG_SZ, "C", 3},
      {L"zelwik-long", REG_SZ, L"COM99999999999", 30},
      {L"zelwik-gone", REG_SZ, L"COM42", 12},
      {L"zelwik-multi", REG_MULTI_SZ, L"COM43\0COM44\0", 26},
      {L"zelwik-empty", REG_SZ, L"", 0},
  };
  for (const auto& j : junk)
    RegSetValueExW(key, j.name, 0, j.type, static_cast<const BYTE*>(j.data), j.bytes);
  EXPECT_EQ(Devices(ListSerialPorts()), clean);
  for (const auto& j : junk) RegDeleteValueW(key, j.name);

  // Without the key: what opens, still. A copy of it puts it back.
  ASSERT_EQ(create(HKEY_CURRENT_USER, copy, saved), ERROR_SUCCESS);
  ASSERT_EQ(RegCopyTreeW(key, nullptr, saved), ERROR_SUCCESS);
  RegCloseKey(key);
  ASSERT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, path), ERROR_SUCCESS);
  EXPECT_EQ(Devices(ListSerialPorts()), clean);
  ASSERT_EQ(create(HKEY_LOCAL_MACHINE, path, key), ERROR_SUCCESS);
  EXPECT_EQ(RegCopyTreeW(saved, nullptr, key), ERROR_SUCCESS);
  RegCloseKey(key);
  RegCloseKey(saved);
  RegDeleteKeyW(HKEY_CURRENT_USER, copy);
}

}  // namespace
}  // namespace zelwik
