// The listing, HEX files read and written; S-record, raw binary and strict Intel HEX: where each
// reader stops; files exchanged with srec_cat and sdcc.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <random>

#include "image/binary_file.h"
#include "image/crc32.h"
#include "image/file_io.h"
#include "image/hex_file.h"
#include "image/sha256.h"
#include "image/srec.h"
#include "image/strict_hex.h"
#include "support/temp_dir.h"

namespace zelwik {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::WriteFile;
using Bytes = std::vector<std::uint8_t>;
using Error = LoadResult::Error;
using Reader = LoadResult (*)(Image&, std::string_view);

const std::string kEnd = ":00000001FF\r\n";
const fs::path kTestData = ZELWIK_HEX_TESTDATA;

// An image holding `bytes` at `address` and nothing else.
Image Holding(int address, const Bytes& bytes) {
  Image image;
  std::copy(bytes.begin(), bytes.end(), image.MemoryImage.begin() + address);
  return image;
}

std::string Text(const Image& image) {
  return {image.MemoryImage.begin(), image.MemoryImage.end()};
}

// The exit status of a shell command; its output is dropped.
int Shell(const std::string& command) {
  const int status = std::system((command + " >/dev/null 2>&1").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(Digests, KnownAnswersAndTheBytesOfAnImage) {
  const std::string million(1000000, 'a');
  const struct {
    std::string data;
    const char* sha256;
    std::uint32_t crc32;
  } cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855", 0},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", 0x352441C2},
      // 56 bytes: the length no longer fits the block, a second one is needed.
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1", 0x171A3F5F},
      {million, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0", 0xDC25BFBC},
      {"123456789", "15e2b0d3c33891ebb0f1ef609ec419420c20e320ce94c65fbc8c3312448eb225", 0xCBF43926},
      {"The quick brown fox jumps over the lazy dog",
       "d7a8fbb307d7809469ca9abcb0082e4f8d5651e46d3cdb762d02d0bf37c9e592", 0x414FA339},
  };
  for (const auto& c : cases) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(c.data.data());
    EXPECT_EQ(Sha256Hex(bytes, c.data.size()), c.sha256) << c.data.size();
    EXPECT_EQ(Crc32(bytes, c.data.size()), c.crc32) << c.data.size();
  }
  EXPECT_EQ(Crc32Text(0x0000ABCDu), "0000ABCD");

  // From address 0 to ImageEnd, the gap's 0xFF bytes included, nothing beyond.
  auto image = std::make_unique<Image>();
  FindImageEnd(*image);
  EXPECT_EQ(ImageCrc32(*image), 0u);
  image->MemoryImage[0] = 0x12;
  image->MemoryImage[5] = 0x34;
  FindImageEnd(*image);
  const std::uint8_t programmed[] = {0x12, 0xFF, 0xFF, 0xFF, 0xFF, 0x34};
  EXPECT_EQ(ImageCrc32(*image), Crc32(programmed, sizeof programmed));
}

TEST(Listing, ZeroBytesShowNoCharacterAndTheListEndsAtImageEnd) {
  Image image = Holding(0x20, {0x00, 0x01, 0x0D, 0x0A, 'z', 0xB9, 0xFF, 0x30});
  EXPECT_EQ(ListLine(image, 0x20), "0020:00010D0A7AB9FF30" + std::string(16, 'F') +
                                       " \x01\r\nz\xB9\xFF\x30" + std::string(8, '\xFF'));
  image.MemoryImage[0xFFFF] = 0x00;
  FindImageEnd(image);
  std::vector<std::string> log;
  ListImage(image, [&](const std::string& line) { log.push_back(line); });
  EXPECT_EQ(log.size(), 4096u);
  EXPECT_EQ(log.back().substr(0, 5), "FFF0:");
}

TEST(HexLoad, RecordsAsAnyToolWritesThem) {
  const std::string rec = ":0100000042BD\r\n";
  const std::string types2to5 =
      ":020000021122xx\r\n:020000031122xx\n:020000041122xx\r\n:020000051122xx\r\n";
  const Bytes ex = {0x02, 0x00, 0x30};
  const struct {
    std::string text;
    int address;
    Bytes bytes;
  } cases[] = {
      {":03000000020030CB\r\n" + kEnd, 0, ex},
      {":03000000020030CB\n:00000001FF\n", 0, ex},
      {":01000000af50\r\n" + kEnd, 0, {0xAF}},
      {":03000000020030CB:00000001FF", 0, ex},
      {"\r\n\n:0100000011EE\n\n:0100010022DC\r\n\r\n:0100020033CA\n" + kEnd, 0, {0x11, 0x22, 0x33}},
      {":02000000ab1fxx\r\n:0100010044xx\r\n", 0, {0xAB, 0x44}},  // later records win
      {":030g1000x5G7a-xx\r\n", 0x10, {0x05, 0x07, 0xA0}},        // non-digits count as 0
      {":01/:@G`g\xC6\xB9xx:0100010011xx", 0, {0x00, 0x11}},      // ... next to the digit ranges
      {types2to5 + ":0100010042xx\r\n", 1, {0x42}},               // address records are skipped
      {":0100001042AD\r\n", 0, {0x42}},                           // type 10 is data
      {kEnd + rec, 0, {}},               // the end record swallows four more characters
      {":000000F1FF\r\n" + rec, 0, {}},  // ... whatever its first type digit
      {kEnd + "\r\n\r\n" + rec, 0, {0x42}},
      {":00000001FFABCDEF:0100000042BD", 0, {0x42}},
      {":04FFFE00AABBCCDDxx\r\n", 0xFFFE, {0xAA, 0xBB}},  // no wrap-around
      {":FFFFFF00" + std::string(510, '5') + "00\r\n", 0xFFFF, {0x55}},
      {":03000000AABBC", 0, {0xAA, 0xBB}},
  };
  for (const auto& c : cases) {
    Image image;
    LoadHexText(image, c.text);
    EXPECT_TRUE(image.MemoryImage == Holding(c.address, c.bytes).MemoryImage) << c.text;
  }
}

TEST(HexText, SixteenByteRecordsUpToImageEnd) {
  Image image = Holding(0, {0x02, 0x00, 0x30});
  image.MemoryImage[0x25] = 0x00;
  FindImageEnd(image);
  EXPECT_EQ(HexText(image), ":10000000020030FFFFFFFFFFFFFFFFFFFFFFFFFFCB\r\n:10001000" +
                                std::string(32, 'F') +
                                "F0\r\n:10002000FFFFFFFFFF00FFFFFFFFFFFFFFFFFFFFDF\r\n" + kEnd);
}

class HexFiles : public ::testing::Test {
 protected:
  testing::TempDir dir;
  Image image;
  // Catches temporary files left behind.
  long Files() const {
    return std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator());
  }
};

// An unreadable file leaves an empty image; devices and fifos neither hang nor fake success.
TEST_F(HexFiles, UnreadableFilesDevicesAndFifos) {
  const std::string fifo = dir / "fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  fs::create_directory(dir / "sub");
  for (const std::string& path : {dir / "missing.hex", dir / "sub", std::string("/dev/zero")}) {
    image.MemoryImage[0] = 0;
    EXPECT_EQ(LoadHexFile(image, path), std::nullopt) << path;
    EXPECT_TRUE(image.ImageEnd == -1 && image.MemoryImage == Image().MemoryImage) << path;
  }
  for (const auto& [path, ok] :
       {std::pair<std::string, bool>{"/dev/null", true}, {"/dev/full", false}, {fifo, false}})
    EXPECT_EQ(SaveHexFile(image, path), ok ? std::optional<int>(0) : std::nullopt) << path;
  EXPECT_EQ(LoadHexFile(image, fifo), 0);
}

// Largest first: each load must start afresh, and count up to the last byte that is not 0xFF
// although the records are padded with 0xFF to 16 bytes.
TEST_F(HexFiles, SavedFilesLoadBackToTheSameImage) {
  std::mt19937 rng(1);
  for (int end : {0xFFFF, 16, 0}) {
    Image saved = Holding(end, {0x5A});
    for (int a = 1; a < end; a += 1 + a % 3)
      saved.MemoryImage[a] = static_cast<std::uint8_t>(rng());
    ASSERT_EQ(SaveHexFile(saved, dir / "x.hex"), (end / 16 + 1) * 16);
    ASSERT_EQ(LoadHexFile(image, dir / "x.hex"), end + 1);
    EXPECT_TRUE(image.MemoryImage == saved.MemoryImage) << end;
  }
}

TEST_F(HexFiles, ReplacedFileKeepsItsModeOwnerAndSymlink) {
  auto mode = [](const std::string& path) {
    return static_cast<unsigned>(fs::status(path).permissions());
  };
  const mode_t old = umask(027);
  EXPECT_TRUE(SaveHexFile(image, dir / "new.hex"));
  umask(old);
  EXPECT_EQ(mode(dir / "new.hex"), 0640u);
  const std::string target = dir / "t.hex", link = dir / "link.hex";
  WriteFile(target, "old");
  ASSERT_EQ(chmod(target.c_str(), 0604), 0);
  ASSERT_EQ(symlink("t.hex", link.c_str()), 0);
  // As root, another owner, then another group alone, is kept.
  for (const auto& [uid, gid] : {std::pair{65534u, getegid()}, std::pair{geteuid(), 65534u}}) {
    const bool root = geteuid() == 0 && chown(target.c_str(), uid, gid) == 0;
    EXPECT_TRUE(SaveHexFile(image, link));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(ReadFile(target), kEnd);  // ImageEnd 0 but nothing in the image
    EXPECT_EQ(mode(target), 0604u);
    struct stat st {};
    EXPECT_TRUE(!root || (stat(target.c_str(), &st) == 0 && st.st_uid == uid && st.st_gid == gid));
  }
  // The longest name a folder takes: no room for a longer temporary name.
  EXPECT_TRUE(SaveHexFile(image, dir / (std::string(251, 'n') + ".hex")));
  EXPECT_EQ(Files(), 4);
}

TEST_F(HexFiles, FailedSaveKeepsTheOldFile) {
  fs::create_directory(dir / "sub");
  const std::string keep = dir / "keep.hex", old = ":0100000042BD\r\n" + kEnd;
  WriteFile(keep, old);
  for (int a = 0; a < 0x8000; ++a) image.MemoryImage[a] = static_cast<std::uint8_t>(a);
  // A file-size limit makes writes fail like a full disk, for root too.
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  const rlimit limit{4096, saved.rlim_max};
  const auto handler = signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &limit);
  const bool replaced = SaveHexFile(image, keep).has_value();
  const bool created = SaveHexFile(image, dir / "new.hex").has_value();
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, handler);
  EXPECT_FALSE(replaced || created);
  for (const std::string& path :
       {dir / "no/such/x.hex", dir / "sub", dir / "none/", std::string("")})
    EXPECT_EQ(SaveHexFile(image, path), std::nullopt) << path;
  EXPECT_EQ(SaveSrecFile(image, dir / "sub"), -1);
  EXPECT_EQ(LoadSrecFile(image, dir / "no.s19").error, LoadResult::Error::Unreadable);
  EXPECT_EQ(ReadFile(keep), old);
  EXPECT_EQ(Files(), 2);
  EXPECT_TRUE(fs::is_empty(dir / "sub"));
}

// A name given on the command line is the working folder's file, whatever "./" it starts with.
TEST(Paths, RelativeNamesResolveAgainstTheWorkingFolder) {
  const std::string cwd = fs::current_path().string();
  EXPECT_EQ(AbsolutePath("./././a.hex"), cwd + "/a.hex");
  EXPECT_EQ(AbsolutePath("x"), cwd + "/x");
  EXPECT_EQ(AbsolutePath("/a/./b.hex"), "/a/./b.hex");
}

TEST(HexInterop, FilesOfOtherToolsLoadAsTheyDid) {
  int files = 0;
  for (const auto& entry : fs::directory_iterator(kTestData)) {
    fs::path base = entry.path();
    if (base.extension() != ".hex") continue;
    ++files;
    Image image;
    ASSERT_TRUE(LoadHexFile(image, base));
    EXPECT_TRUE(Text(image) == ReadFile(base.replace_extension(".bin"))) << base;
  }
  EXPECT_GE(files, 6);
}

struct ReaderCase {
  const char* name;
  Reader read;
  std::string text;
  Error error;
  int line;
  std::string stored;  // from `at`; an 0xFF where a refused record would have written
  unsigned at = 0;
};

const Reader kSrec = LoadSrecText, kHex = LoadStrictHexText;
const ReaderCase kReaderCases[] = {
    {"SrecWideAddressesLowerCaseCrLf", kSrec,
     "S2070000010a0b0cd6\r\nS30600000000aa4f\r\nS804000000FB\r\n", Error::None, 0,
     "\xAA\x0A\x0B\x0C"},
    {"SrecBadChecksum", kSrec, "S1040000AA51\nS1040001BB3E\nS1040002CC2D\n", Error::BadChecksum, 2,
     "\xAA\xFF\xFF"},
    {"SrecTruncatedLine", kSrec, "S1040000AA51\nS1060001BBCC\n", Error::BadSyntax, 2, "\xAA\xFF"},
    {"SrecDataAboveFFFF", kSrec, "S105FFFF0102F9\n", Error::AddressTooHigh, 1, ""},
    {"SrecDataEndingAtFFFF", kSrec, "S105FFFEAABB98\n", Error::None, 0, "\xAA\xBB", 0xFFFE},
    {"SrecRecordAfterTheEnd", kSrec, "S9030000FC\nS1040000AA51\n", Error::BadSyntax, 2, "\xFF"},
    {"SrecCountDisagrees", kSrec, "S1040000AA51\nS5030002FA\n", Error::BadCount, 2, "\xAA"},
    {"HexBadChecksum", kHex, ":01000000AA55\n:01000100BB44\n:00000001FF\n", Error::BadChecksum, 2,
     "\xAA\xFF"},
    {"HexLinearBaseAboveFFFF", kHex, ":020000040001F9\n:01000000AA55\n", Error::AddressTooHigh, 2,
     "\xFF"},
    {"HexRecordAfterTheEnd", kHex, ":00000001FF\n:01000000AA55\n", Error::BadSyntax, 2, "\xFF"},
    {"HexLineWithoutColon", kHex, ";01000000AA55\n:00000001FF\n", Error::BadSyntax, 1, "\xFF"},
    {"HexCountDisagrees", kHex, ":02000000AA54\n:00000001FF\n", Error::BadSyntax, 1, "\xFF"},
    {"HexNoEndRecord", kHex, ":01000000AA55\n", Error::NoEndRecord, 2, "\xAA"},
    {"HexSegmentBase", kHex, ":020000020100FB\n:01000000AA55\n:00000001FF\n", Error::None, 0,
     "\xAA", 0x1000},
    {"HexUnknownType", kHex, ":00000006FA\n", Error::BadSyntax, 1, ""},
    {"HexDataEndingAtFFFF", kHex, ":02FFFE00AABB9C\n:00000001FF\n", Error::None, 0, "\xAA\xBB",
     0xFFFE},
};

TEST(Readers, AcceptOrStopAtTheFirstBadLine) {
  for (const ReaderCase& c : kReaderCases) {
    auto image = std::make_unique<Image>();
    const LoadResult result = c.read(*image, c.text);
    EXPECT_EQ(result.error, c.error) << c.name;
    EXPECT_EQ(result.line, c.line) << c.name;
    EXPECT_EQ(Text(*image).substr(c.at, c.stored.size()), c.stored) << c.name;
  }
}

// Ours read by srecord and theirs by us, up to the top of the memory, and a program sdcc builds
// now: each agrees with srec_cat's image.
TEST(ImageFiles, OursSrecCatsAndSdccsReadEachOther) {
  if (Shell("command -v srec_cat") != 0) GTEST_SKIP() << "srecord is not installed";
  testing::TempDir dir;
  const std::string cd = "cd '" + dir.path().string() + "' && ";
  auto pattern = std::make_unique<Image>();
  for (int a = 0; a < 0x1234; ++a) pattern->MemoryImage[a] = static_cast<std::uint8_t>(a * 13);
  pattern->MemoryImage[0x0800] = kEmptyByte;  // an 0xFF inside, which every file must carry
  pattern->MemoryImage[0xFFFF] = 0x5A;
  const std::string ours = Text(*pattern), ours8K = ours.substr(0, 0x2000);
  ASSERT_EQ(SaveSrecFile(*pattern, dir / "ours.s19"), kImageSize);
  ASSERT_EQ(SaveHexFile(*pattern, dir / "ours.hex"), kImageSize);
  ASSERT_TRUE(SaveBinaryFile(*pattern, 0x2000, dir / "ours.bin"));
  EXPECT_EQ(ReadFile(dir / "ours.bin"), ours8K);
  for (const char* args : {"ours.s19 -fill 0xFF 0 0x10000 -o theirs.bin -binary",
                           "ours.hex -intel -fill 0xFF 0 0x10000 -o hex.bin -binary",
                           "ours.s19 -o s28.s19 -address-length=3",
                           "ours.s19 -o s37.s19 -address-length=4", "ours.s19 -o theirs.hex -intel",
                           "ours.bin -binary -o bin.s19", "ours.bin -binary -o bin.hex -intel"})
    ASSERT_EQ(Shell(cd + "srec_cat " + args), 0) << args;
  EXPECT_TRUE(ReadFile(dir / "theirs.bin") == ours);
  EXPECT_TRUE(ReadFile(dir / "hex.bin") == ours);
  const std::string bin = ours8K + std::string(kImageSize - 0x2000, '\xFF');
  for (const std::string name : {"s28.s19", "s37.s19", "theirs.hex", "bin.s19", "bin.hex"}) {
    auto image = std::make_unique<Image>();
    const auto load = name.ends_with(".hex") ? LoadStrictHexFile : LoadSrecFile;
    const LoadResult result = load(*image, dir / name);
    EXPECT_TRUE(result.Ok()) << name << " line " << result.line;
    EXPECT_TRUE(Text(*image) == (name.starts_with("bin") ? bin : ours)) << name;
  }

  if (Shell("command -v sdcc") != 0) GTEST_SKIP() << "sdcc is not installed";
  fs::copy_file(kTestData / "blink.c", dir / "blink.c");
  ASSERT_EQ(Shell(cd + "sdcc -mmcs51 blink.c && srec_cat blink.ihx -intel -fill 0xFF 0 0x10000 -o "
                       "blink.bin -binary"),
            0);
  ASSERT_TRUE(LoadHexFile(*pattern, dir / "blink.ihx"));
  EXPECT_TRUE(Text(*pattern) == ReadFile(dir / "blink.bin"));
}

}  // namespace
}  // namespace zelwik
