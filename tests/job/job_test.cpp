#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "image/hex_file.h"
#include "job/job_file.h"
#include "support/temp_dir.h"

namespace zelwik {
namespace {

using testing::ReadFile;
using testing::Replace;
using testing::TempDir;
using testing::WriteFile;

// Line numbers matter: the refusals below name them.
const std::string kJobText = R"(zelwik_job = 1
name = "Brama v1.3"
chip = "89C2051"
steps = ["blank-check", "program", "verify", "lock2"]
repeat = "auto"
timeout_ms = 500
ports = ["/dev/ttyUSB0", "/dev/ttyUSB1"]
log = "logi/run.csv"

[image]
file = "fw.hex"
format = "hex"
sha256 = "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"
bytes = 1024

[serial]
layout = "7F0:2:1000"
file = "run.serial"
)";

Job FullJob() {
  Job job;
  job.name = "Sterownik \"bramy\" \\ v1.3 – żółć";
  job.chip = "89C52";
  job.steps = {JobStep::BlankCheck, JobStep::Erase, JobStep::Program, JobStep::Verify,
               JobStep::LockAll};
  job.image = JobImage{"../obrazy/płytka.s19", FileFormat::Srec, false, std::string(64, '0'), 8};
  job.serial = JobSerial{"1FF0:4:7:3:bcd", "numery/ż.serial", true};
  job.log = "C:/logi/linia 2.csv";
  job.repeat = JobRepeat::Prompt;
  job.timeoutMs = 1500;
  job.ports = {"COM7", "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"};
  return job;
}

TEST(JobFile, WrittenJobsReadBackEqualUnreadableOnesAreRefused) {
  TempDir dir;
  const std::string path = dir / "zadanie ąę.zjob";
  std::string why;
  Job minimal;
  minimal.chip = "89C1051";
  minimal.steps = {JobStep::Erase};
  Job hex = FullJob();
  hex.image->format = FileFormat::Hex;
  hex.image->strict = true;
  for (const Job& job : {FullJob(), minimal, hex}) {
    ASSERT_TRUE(WriteJob(path, job, why)) << why;
    const std::optional<Job> back = ReadJob(path, why);
    ASSERT_TRUE(back) << why << "\n" << ReadFile(path);
    EXPECT_EQ(*back, job) << ReadFile(path);
  }
  EXPECT_EQ(JobName(FullJob(), path), FullJob().name);

  // The reader's spelling wins: the chip as the chip table writes it, lower-case digits.
  const std::optional<Job> spelt = ParseJob(Replace(Replace(kJobText, "\"89C2051\"", "\"89c2051\""),
                                                    std::string(64, 'a'), std::string(64, 'A')),
                                            "j.zjob", why);
  ASSERT_TRUE(spelt) << why;
  EXPECT_EQ(spelt->chip, "89C2051");
  EXPECT_EQ(spelt->image->sha256, std::string(64, 'a'));

  // A job that would be refused on reading is never written, and the old file stays.
  const std::string before = ReadFile(path);
  Job detect = minimal;
  detect.chip = "auto";
  EXPECT_FALSE(WriteJob(path, detect, why));
  EXPECT_NE(why.find("chip: a job names its chip"), std::string::npos) << why;
  EXPECT_EQ(ReadFile(path), before);
  EXPECT_FALSE(WriteJob(dir / "no-such-folder/x.zjob", minimal, why));
  EXPECT_EQ(why, dir / "no-such-folder/x.zjob" + ": cannot be written");

  WriteFile(dir / "big.zjob", kJobText + "# " + std::string(kMaxJobFileBytes, 'x') + "\n");
  EXPECT_FALSE(ReadJob(dir / "big.zjob", why));
  EXPECT_NE(why.find("too large for a job file"), std::string::npos) << why;
}

TEST(JobFile, ByteOrderMarkCrLfAndLettersInStringsAndComments) {
  std::string why;
  const std::optional<Job> plain = ParseJob(kJobText, "j.zjob", why);
  ASSERT_TRUE(plain) << why;
  std::string crlf;
  for (char c : kJobText) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  for (const std::string& text : {"\xEF\xBB\xBF" + kJobText, crlf}) {
    const std::optional<Job> job = ParseJob(text, "j.zjob", why);
    ASSERT_TRUE(job) << why;
    EXPECT_EQ(*job, *plain);
  }
  // Letters beyond ASCII where TOML has them: comments and every kind of string.
  const std::string lettered = Replace(
      Replace(kJobText, "log = \"logi/run.csv\"", "log = '''ć.csv'''"), "name = \"Brama v1.3\"",
      "# Linia 2: żółć\nname = \"\"\"Brama \\\"ż\\\" 'ł' \\  \n  ą\"\"\" # ą");
  const std::optional<Job> letters = ParseJob(lettered, "j.zjob", why);
  ASSERT_TRUE(letters) << why;
  EXPECT_EQ(letters->name, "Brama \"ż\" 'ł' ą");
  EXPECT_EQ(letters->log, "ć.csv");
  EXPECT_EQ(plain->repeat, JobRepeat::Auto);
}

// Each refusal names the job file, the line and the key, and the reader goes no further.
TEST(JobFile, RefusalsNameTheLineAndTheKey) {
  const auto with = [](const std::string& from, const std::string& to) {
    return Replace(kJobText, from, to);
  };
  const struct {
    std::string text;
    std::string why;  // after "j.zjob: "
  } cases[] = {
      {"", "the file is empty"},
      {"name = \"x\"\n", "not a job file: no 'zelwik_job = 1' in it"},
      {with("zelwik_job = 1", "zelwik_job = 2\nnew_key = 1"),
       "line 1: zelwik_job: format 2 is newer than this Zelwik reads (1)"},
      {with("zelwik_job = 1", "zelwik_job = \"1\""),
       "line 1: zelwik_job: must be an integer, not a string"},
      {with("repeat = \"auto\"", "repaet = \"auto\""), "line 5: repaet: unknown key"},
      {with("bytes = 1024", "bytes = 1024\nsize = 1"), "line 15: image.size: unknown key"},
      {with("500", "0.5"), "line 6: timeout_ms: must be an integer, not a number with a fraction"},
      {with("500", "-1"), "line 6: timeout_ms: must be a positive number of milliseconds"},
      {with("chip = \"89C2051\"\n", ""), "missing key 'chip'"},
      {with("bytes = 1024\n", ""), "line 10: missing key 'image.bytes'"},
      {with("chip = \"89C2051\"", "chip = \"auto\""), "line 3: chip: a job names its chip"},
      {with("chip = \"89C2051\"", "chip = \"8051\""), "line 3: chip: unknown chip '8051'"},
      {with("\"lock2\"", "\"burn\""), "line 4: steps: 'burn' is not a step"},
      {with("\"lock2\"", "\"verify\""), "line 4: steps: 'verify' is given twice"},
      {with("\"verify\", \"lock2\"", "\"lock2\", \"verify\""),
       "line 4: steps: 'verify' cannot come after 'lock2'"},
      {with("\"lock2\"", "\"lock2\", \"lock\""), "line 4: steps: one lock step at most"},
      {with("\"lock2\"", "\"lock3\""), "line 4: steps: the 89C2051 has no lock bit 3"},
      {with("[\"blank-check\", \"program\", \"verify\", \"lock2\"]", "[]"),
       "line 4: steps: names no step"},
      {with("\"program\", \"verify\", ", ""), "line 10: image: no step programs or verifies it"},
      {kJobText.substr(0, kJobText.find("\n[image]")),
       "line 4: steps: program and verify need an [image]"},
      {with("\"hex\"", "\"elf\""), "line 12: image.format: takes hex, bin, srec, not 'elf'"},
      {with("\"hex\"", "\"bin\"\nstrict = true"),
       "line 13: image.strict: goes with format = \"hex\""},
      {with(std::string(64, 'a'), std::string(63, 'a') + "g"),
       "line 13: image.sha256: must be 64 hex digits"},
      {with("1024", "4096"), "line 14: image.bytes: 4096 bytes do not fit the 89C2051's 2048"},
      {with("fw.hex", "fw\\u0007.hex"), "line 11: image.file: must not hold control characters"},
      {with("7F0:2:1000", "7FF:2:1000"),
       "line 17: serial.layout: the number does not fit in the 89C2051's 2048 bytes"},
      {with("7F0:2:1000", "7F0:9:1000"), "line 17: serial.layout: width '9' is not 1 to 8 bytes"},
      {with("file = \"run.serial\"\n", ""), "line 16: missing key 'serial.file'"},
      {Replace(with("\"program\", \"verify\", \"lock2\"", "\"verify\""),
               "\n[serial]\nlayout = \"7F0:2:1000\"\nfile = \"run.serial\"\n", ""),
       "line 5: repeat: goes with a step that changes the chip"},
      {with("USB1", "USB0"), "line 7: ports: '/dev/ttyUSB0' is given twice"},
      {Replace(kJobText.substr(0, kJobText.find("\n[serial]")), "log = \"logi/run.csv\"",
               "serial = 3"),
       "line 8: serial: must be a table, not an integer"},
      {with("name = \"Brama v1.3\"", "name = \"Brama \xC5\""), "line 2: "},
      // Letters outside strings, after a backslash, or not UTF-8: refused before the TOML parser,
      // which asks whether such letters are blanks in a way that is undefined.
      {"\xEF\xAE\xBFzelwik_job = 1\n", "line 1: "},
      {"zelwik_job = 1\nż = 1\n", "line 2: "},
      {"zelwik_job = 1 # \xC5\n", "line 1: not UTF-8 text"},
      {"zelwik_job = 1\n\nname = \"\"\"a\\\xC5\xBC\"\"\"\n", "line 3: "},
      // Cut short inside a value.
      {kJobText.substr(0, kJobText.find("aaaa") + 10), "line 13: Error while parsing string"},
  };
  for (const auto& c : cases) {
    std::string why;
    EXPECT_FALSE(ParseJob(c.text, "j.zjob", why)) << c.why;
    EXPECT_EQ(why.substr(0, c.why.size() + 8), "j.zjob: " + c.why) << c.text;
  }
}

TEST(JobFile, PathsResolveFromTheJobsFolder) {
  EXPECT_EQ(JobFilePath("/linia/zadania/a.zjob", "../obrazy/fw.hex"),
            "/linia/zadania/../obrazy/fw.hex");
  EXPECT_EQ(JobFilePath("a.zjob", "fw.hex"), "fw.hex");
  EXPECT_EQ(JobFilePath("C:\\linia\\a.zjob", "fw.hex"), "C:\\linia\\fw.hex");
  for (const char* absolute : {"/obrazy/fw.hex", "D:/obrazy/fw.hex", "\\\\serwer\\fw.hex"})
    EXPECT_EQ(JobFilePath("/linia/a.zjob", absolute), absolute);

  EXPECT_EQ(PathForJob("/linia/zadania/a.zjob", "/linia/obrazy/płytka.hex"),
            "../obrazy/płytka.hex");
  EXPECT_EQ(PathForJob("a.zjob", "fw.hex"), "fw.hex");
}

// A job made with a 4-byte image in a folder of its own.
class JobImages : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directory(folder_);
    job_.chip = "89C1051";
    job_.steps = {JobStep::Program, JobStep::Verify};
    job_.image = Write(":0400000012345678E8\r\n");
    job_.serial = JobSerial{"3F0:2:1", "n.serial", false};
  }

  // The image file now holds `records`; returns what a job made with it records.
  JobImage Write(const std::string& records) {
    WriteFile(folder_ + "/płytka.hex", records + ":00000001FF\r\n");
    auto loaded = std::make_unique<Image>();
    EXPECT_TRUE(LoadHexFile(*loaded, folder_ + "/płytka.hex"));
    JobImage described;
    described.file = "płytka.hex";
    DescribeImage(described, *loaded);
    return described;
  }

  // The job's check of its image file as it stands: "" or the reason.
  std::string Check() {
    std::string why;
    image_->MemoryImage[0] = 0x99;  // whatever was loaded before
    if (CheckJobImage(job_, jobPath_, *image_, why)) return "";
    EXPECT_EQ(image_->MemoryImage[0], 0x99) << "a refused image replaced the loaded one";
    return why;
  }

  TempDir dir_;
  const std::string folder_ = dir_ / "zadania ż", jobPath_ = folder_ + "/linia.zjob";
  Job job_;
  std::unique_ptr<Image> image_ = std::make_unique<Image>();
};

TEST_F(JobImages, TheImageMadeWithTheJobPassesAChangedOneIsRefused) {
  EXPECT_EQ(Check(), "");
  const std::string found = Write(":0500000012345678AA3D\r\n").sha256;
  EXPECT_EQ(Check(),
            jobPath_ + ": image płytka.hex: the file has changed since the job was made: " +
                "expected " + job_.image->sha256 + " (4 bytes), found " + found + " (5 bytes)");
  // The same length, one byte different.
  Write(":0400000012345679E7\r\n");
  EXPECT_NE(Check().find("the file has changed since the job was made"), std::string::npos);
}

TEST_F(JobImages, MissingRefusedOrStampedFilesAreRefused) {
  std::filesystem::remove(folder_ + "/płytka.hex");
  EXPECT_EQ(Check(), jobPath_ + ": image płytka.hex: cannot be read");
  job_.image->strict = true;
  Write(":0400000012345678E9\r\n");
  EXPECT_EQ(Check(),
            jobPath_ + ": image płytka.hex: line 1: checksum does not match; file refused");
  // Data where the serial goes: refused unless the job lets the serial replace it.
  job_.image = Write(":0400000012345678E8\r\n:0103F100AA61\r\n");
  EXPECT_EQ(Check(), jobPath_ +
                         ": image płytka.hex: the file has data at 03F1, where the serial number "
                         "goes (serial.overwrite = true replaces it)");
  job_.serial->overwrite = true;
  EXPECT_EQ(Check(), "");
}

}  // namespace
}  // namespace zelwik
