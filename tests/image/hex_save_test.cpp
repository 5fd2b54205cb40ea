#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <random>
#include <sstream>

#include "image/hex_file.h"
#include "support/recording_view.h"
#include "temp_dir.h"

namespace zelwik {
namespace {

using testing::ReadFile;
using testing::RecordingView;
using testing::TempDir;
using testing::WriteFile;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    lines.push_back(text.substr(start, end - start));
  }
  EXPECT_EQ(start, text.size()) << "text does not end with CR LF";
  return lines;
}

Image RandomImage(unsigned seed, int end) {
  Image image;
  std::mt19937 rng(seed);
  for (int a = 0; a <= end; ++a) image.MemoryImage[a] = static_cast<std::uint8_t>(rng());
  image.MemoryImage[end] = 0x5A;
  return image;
}

TEST(HexText, WorkedExampleAndEmptyImage) {
  Image image;
  image.MemoryImage[0] = 0x02;
  image.MemoryImage[1] = 0x00;
  image.MemoryImage[2] = 0x30;
  FindImageEnd(image);
  EXPECT_EQ(HexText(image), ":10000000020030FFFFFFFFFFFFFFFFFFFFFFFFFFCB\r\n:00000001FF\r\n");
  ClearImage(image);
  FindImageEnd(image);
  EXPECT_EQ(HexText(image), ":00000001FF\r\n");
}

TEST(HexText, FullImageHasEveryLineWithValidChecksums) {
  Image image = RandomImage(1, 0xFFFF);
  FindImageEnd(image);
  const std::string text = HexText(image);
  EXPECT_EQ(text.size(), 184333u);
  const auto lines = Lines(text);
  ASSERT_EQ(lines.size(), 4097u);
  EXPECT_EQ(lines.back(), ":00000001FF");
  for (int r = 0; r < 4096; ++r) {
    const std::string& line = lines[r];
    ASSERT_EQ(line.size(), 43u);
    ASSERT_EQ(line.substr(0, 9), ":10" + ByteToHexText(r >> 4) + ByteToHexText((r << 4) & 0xFF) + "00");
    unsigned sum = 0;
    for (int k = 1; k < 43; k += 2) sum += HexPairToByte(line[k], line[k + 1]);
    ASSERT_EQ(sum % 256, 0u) << line;
    for (int k = 0; k < 16; ++k) {
      ASSERT_EQ(HexPairToByte(line[9 + 2 * k], line[10 + 2 * k]), image.MemoryImage[r * 16 + k]);
    }
  }
}

TEST(HexText, GapsAreWrittenAsFullRecords) {
  Image image;
  image.MemoryImage[0x35] = 0x00;
  FindImageEnd(image);
  const auto lines = Lines(HexText(image));
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0], ":10000000FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF00");
  EXPECT_EQ(lines[3], ":10003000FFFFFFFFFF00FFFFFFFFFFFFFFFFFFFFCF");
}

class HexSaveFile : public ::testing::Test {
 protected:
  TempDir dir;
  RecordingView view;
  Image image;

  // Files in the test folder, to catch temporary files left behind.
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }
};

TEST_F(HexSaveFile, CountsAndSizes) {
  const std::string path = dir / "out.hex";
  // A fresh image has ImageEnd 0 but nothing in it: only the end record.
  EXPECT_TRUE(SaveHexFile(image, path, view));
  EXPECT_EQ(view.LastStatus(), " Zapisano 0 bajtów.");
  EXPECT_EQ(ReadFile(path), ":00000001FF\r\n");
  EXPECT_EQ(image.ImageEnd, -1);

  WriteFile(dir / "in.hex", ":03000000020030CB\r\n:00000001FF\r\n");
  ASSERT_TRUE(LoadHexFile(image, dir / "in.hex", view));
  EXPECT_EQ(view.LastStatus(), " Odczytano 3 bajtów.");
  EXPECT_TRUE(SaveHexFile(image, path, view));
  EXPECT_EQ(view.LastStatus(), " Zapisano 16 bajtów.");
  EXPECT_EQ(ReadFile(path).size(), 58u);

  image = RandomImage(2, 0xFFFF);
  image.ImageEnd = 3;  // stale: the save recomputes it
  EXPECT_TRUE(SaveHexFile(image, path, view));
  EXPECT_EQ(view.LastStatus(), " Zapisano 65536 bajtów.");
  EXPECT_EQ(std::filesystem::file_size(path), 184333u);
  EXPECT_TRUE(view.pauses.empty());
  EXPECT_EQ(Names(), (std::vector<std::string>{"in.hex", "out.hex"}));
}

TEST_F(HexSaveFile, SavedFileLoadsBackToTheSameImage) {
  for (int end : {0, 15, 16, 1000, 0xFFFE, 0xFFFF}) {
    Image saved = RandomImage(end, end);
    for (int a = 0; a < end; a += 7) saved.MemoryImage[a] = 0xFF;  // gaps
    ASSERT_TRUE(SaveHexFile(saved, dir / "x.hex", view));
    ASSERT_TRUE(LoadHexFile(image, dir / "x.hex", view));
    EXPECT_TRUE(image.MemoryImage == saved.MemoryImage) << end;
    EXPECT_EQ(image.ImageEnd, end);
  }
}

TEST_F(HexSaveFile, NewFilesFollowTheUmaskExistingFilesKeepTheirMode) {
  const mode_t old = umask(027);
  const std::string path = dir / "new.hex";
  EXPECT_TRUE(SaveHexFile(image, path, view));
  umask(old);
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);

  ASSERT_EQ(chmod(path.c_str(), 0604), 0);
  image.MemoryImage[0] = 1;
  EXPECT_TRUE(SaveHexFile(image, path, view));
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0604u);
  EXPECT_EQ(ReadFile(path).substr(0, 11), ":1000000001");
}

TEST_F(HexSaveFile, ReplacingAnotherUsersFileKeepsItsOwnerWhenAllowed) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to hand a file to another user";
  const std::string path = dir / "theirs.hex";
  WriteFile(path, "old");
  ASSERT_EQ(chown(path.c_str(), 65534, 65534), 0);
  EXPECT_TRUE(SaveHexFile(image, path, view));
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 65534u);
  EXPECT_EQ(st.st_gid, 65534u);
}

TEST_F(HexSaveFile, LongestFileNameStillWorks) {
  const std::string path = dir / (std::string(251, 'n') + ".hex");
  EXPECT_TRUE(SaveHexFile(image, path, view));
  EXPECT_EQ(ReadFile(path), ":00000001FF\r\n");
  EXPECT_EQ(Names().size(), 1u);
}

TEST_F(HexSaveFile, ThroughASymlinkTheLinkStays) {
  const std::string target = dir / "target.hex";
  const std::string link = dir / "link.hex";
  WriteFile(target, "old");
  ASSERT_EQ(symlink("target.hex", link.c_str()), 0);
  EXPECT_TRUE(SaveHexFile(image, link, view));
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(ReadFile(target), ":00000001FF\r\n");
}

TEST_F(HexSaveFile, PlacesThatCannotBeWrittenReportIoError) {
  std::filesystem::create_directory(dir / "sub");
  image.MemoryImage[5] = 5;
  for (const std::string& path : {dir / "no/such/folder/x.hex", std::string("/proc/zelwik-test.hex"),
                                  dir / "sub", std::string(""), dir / "none/"}) {
    view = RecordingView();
    EXPECT_FALSE(SaveHexFile(image, path, view)) << path;
    EXPECT_EQ(view.statuses, std::vector<std::string>{" Błąd I/O ..."}) << path;
    EXPECT_TRUE(view.pauses.empty());
  }
  EXPECT_EQ(Names(), std::vector<std::string>{"sub"});
  EXPECT_TRUE(std::filesystem::is_empty(dir / "sub"));
}

TEST_F(HexSaveFile, FullDeviceReportsIoError) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  image.MemoryImage[0] = 0;
  EXPECT_FALSE(SaveHexFile(image, "/dev/full", view));
  EXPECT_EQ(view.statuses, std::vector<std::string>{" Błąd I/O ..."});
}

TEST_F(HexSaveFile, WritingIntoADeviceWorks) {
  image.MemoryImage[0] = 0;
  EXPECT_TRUE(SaveHexFile(image, "/dev/null", view));
  EXPECT_EQ(view.LastStatus(), " Zapisano 16 bajtów.");
  EXPECT_TRUE(std::filesystem::is_character_file("/dev/null"));
}

TEST_F(HexSaveFile, FifoWithoutReaderFailsInsteadOfWaiting) {
  const std::string fifo = dir / "fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_FALSE(SaveHexFile(image, fifo, view));
  EXPECT_EQ(view.LastStatus(), " Błąd I/O ...");
  // And loading from it reads nothing rather than waiting for a writer.
  EXPECT_TRUE(LoadHexFile(image, fifo, view));
  EXPECT_EQ(view.LastStatus(), " Odczytano 0 bajtów.");
}

// A file-size limit makes writes fail like a full disk, for root too.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    oldHandler_ = signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    signal(SIGXFSZ, oldHandler_);
  }

 private:
  rlimit saved_{};
  sighandler_t oldHandler_;
};

TEST_F(HexSaveFile, FailedWriteLeavesTheExistingFileIntact) {
  const std::string path = dir / "keep.hex";
  const std::string old = ":0100000042BD\r\n:00000001FF\r\n";
  WriteFile(path, old);
  image = RandomImage(3, 0x7FFF);
  {
    FileSizeLimit limit(4096);
    EXPECT_FALSE(SaveHexFile(image, path, view));
  }
  EXPECT_EQ(view.statuses, std::vector<std::string>{" Błąd I/O ..."});
  EXPECT_EQ(ReadFile(path), old);
  EXPECT_EQ(Names(), std::vector<std::string>{"keep.hex"});

  // A new file is not created half-written either.
  {
    FileSizeLimit limit(4096);
    EXPECT_FALSE(SaveHexFile(image, dir / "new.hex", view));
  }
  EXPECT_EQ(Names(), std::vector<std::string>{"keep.hex"});
}

}  // namespace
}  // namespace zelwik
