#include "time/local.h"

#include <fcntl.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

namespace quorvale::time {
namespace {

namespace fs = std::filesystem;

std::string TestData(const std::string& name) {
  return QUORVALE_TIME_TESTDATA "/" + name;
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in) << path;
  return {std::istreambuf_iterator<char>(in), {}};
}

void Put(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

// Offsets that tell the test zones apart at the epoch.
constexpr std::int32_t kTokyo = 9 * 3600;
constexpr std::int32_t kDublin = 3600;  // Irish Standard Time in 1970
constexpr std::int32_t kChatham = 12 * 3600 + 45 * 60;
constexpr std::int32_t kLordHowe = 10 * 3600;

// Three zone directories, a localtime file and a place outside them, in a
// fresh temporary tree.
class LoadLocalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::path(::testing::TempDir()) /
            ("zones." + std::to_string(::getpid()));
    fs::remove_all(root_);
    const std::string tokyo = Slurp(TestData("Asia_Tokyo"));
    const std::string dublin = Slurp(TestData("Europe_Dublin"));
    const std::string chatham = Slurp(TestData("Pacific_Chatham"));
    Put(root_ / "1/Zone/A", tokyo);
    Put(root_ / "1/UTC", tokyo);  // never read: "UTC" opens no file
    Put(root_ / "1/..Zone", tokyo);
    Put(root_ / "1/Broken", "TZif2 but nothing after");
    Put(root_ / "1/Empty", "");
    Put(root_ / "1/AtCap", Padded(tokyo, kMaxZoneFileSize));
    Put(root_ / "1/OverCap", Padded(tokyo, kMaxZoneFileSize + 1));
    Put(root_ / "2/Zone/A", chatham);  // shadowed by 1/Zone/A
    Put(root_ / "2/Zone/B", dublin);
    Put(root_ / "2/Broken", dublin);
    Put(root_ / "3/Only3", Slurp(TestData("Australia_Lord_Howe")));
    Put(root_ / "localtime", chatham);
    Put(root_ / "outside/secret", tokyo);
    ASSERT_EQ(::mkfifo((root_ / "1/Fifo").c_str(), 0600), 0);
    fs::create_symlink("Zone/A", root_ / "1/Link");
    for (const char* d : {"1/", "2/", "3/"})
      dirs_.push_back((root_ / d).string());
    views_.assign(dirs_.begin(), dirs_.end());
    localtime_ = (root_ / "localtime").string();
  }
  void TearDown() override { fs::remove_all(root_); }

  // A valid zone followed by padding that the reader ignores, size bytes in
  // all.
  static std::string Padded(std::string zone, std::size_t size) {
    zone.resize(size, '\0');
    return zone;
  }

  LocalZone Load(const char* tz) {
    return LoadLocal(tz, ZoneSources{views_, localtime_});
  }
  std::string Path(const char* rel) { return (root_ / rel).string(); }

  fs::path root_;
  std::vector<std::string> dirs_;
  std::vector<std::string_view> views_;
  std::string localtime_;
};

TEST_F(LoadLocalTest, TzRules) {
  struct Case {
    const char* tz;    // nullptr: TZ unset
    std::string file;  // relative to the tree; "" for UTC
    std::int32_t utoff;
  } cases[] = {
      {nullptr, "localtime", kChatham},
      {"", "", 0},
      {":", "", 0},
      {"UTC", "", 0},
      {":UTC", "", 0},
      {"::UTC", "", 0},  // only one colon is dropped: no zone ":UTC"
      {"utc", "", 0},    // a name like any other, not found
      {"Zone/A", "1/Zone/A", kTokyo},
      {":Zone/A", "1/Zone/A", kTokyo},
      {"Link", "1/Link", kTokyo},
      {"Zone/B", "2/Zone/B", kDublin},
      {"Only3", "3/Only3", kLordHowe},
      {"Broken", "2/Broken", kDublin},  // the first file that loads wins
      {"..Zone", "1/..Zone", kTokyo},   // ".." only as a whole element
      {"Missing", "", 0},
      {"Empty", "", 0},
      {"Zone", "", 0},  // a directory
      {"Fifo", "", 0},  // no regular file; must not wait for a writer
      {"AtCap", "1/AtCap", kTokyo},
      {"OverCap", "", 0},
      // A name is never a way out of the zone directories.
      {"../outside/secret", "", 0},
      {"Zone/../Zone/A", "", 0},
      {"Zone/A/..", "", 0},
      {"..", "", 0},
      // A rule is only a name.
      {"EST5EDT,M3.2.0,M11.1.0", "", 0},
      {"JST-9", "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tz ? std::string("TZ=\"") + c.tz + "\"" : "TZ unset");
    const LocalZone z = Load(c.tz);
    EXPECT_EQ(z.file, c.file.empty() ? "" : Path(c.file.c_str()));
    EXPECT_EQ(z.zone.Lookup(0).utoff, c.utoff);
    if (c.file.empty()) {
      EXPECT_EQ(z.zone.Lookup(0).abbr, "UTC");
    }
  }
}

TEST_F(LoadLocalTest, AbsolutePathIsThatFileAlone) {
  const std::string tokyo = TestData("Asia_Tokyo");
  EXPECT_EQ(Load(tokyo.c_str()).file, tokyo);
  EXPECT_EQ(Load((":" + tokyo).c_str()).file, tokyo);
  // Not sought in the directories, though 1/Zone/A exists.
  EXPECT_EQ(Load("/Zone/A").file, "");
  const std::string dotdot = Path("1/../outside/secret");
  EXPECT_EQ(Load(dotdot.c_str()).file, dotdot);
  for (const char* hostile : {"/", "/dev/zero", "/dev/null", "/dev/stdin",
                              "/proc/self/mem", "/nonexistent"}) {
    const auto start = std::chrono::steady_clock::now();
    const LocalZone z = Load(hostile);
    EXPECT_EQ(z.file, "") << hostile;
    EXPECT_EQ(z.zone.Lookup(0).utoff, 0) << hostile;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1))
        << hostile;
  }
}

// A huge file is refused by its size, before anything is read.
TEST_F(LoadLocalTest, HugeSparseFileIsRefusedPromptly) {
  const std::string path = Path("1/Huge");
  {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, off_t{1} << 40), 0);
    ::close(fd);
  }
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(ReadZoneFile(path).err);
  EXPECT_EQ(Load("Huge").file, "");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

TEST(LoadLocalSystemTest, NamesAreSoughtInTheSystemZoneDirectory) {
  if (!fs::exists("/usr/share/zoneinfo/Asia/Tokyo")) {
    GTEST_SKIP() << "no system zone files";
  }
  const LocalZone z = LoadLocal("Asia/Tokyo");
  EXPECT_EQ(z.file, "/usr/share/zoneinfo/Asia/Tokyo");
  EXPECT_EQ(z.zone.Lookup(0).utoff, kTokyo);
  EXPECT_EQ(LoadLocal("Asia/../Asia/Tokyo").file, "");
}

// Runs `body` in a child process with a private mount namespace and a
// fresh, empty /etc, TZ unset. The child's exit status is the verdict: 0
// passed, 77 no namespace could be made, anything else failed.
int InPrivateEtc(void (*body)()) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("tmpfs", "/etc", "tmpfs", 0, nullptr) != 0) {
      ::_exit(77);
    }
    ::unsetenv("TZ");
    body();
    ::_exit(0);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "failed: %s\n", what);
    ::_exit(1);
  }
}

TEST(LocalTest, TzUnsetReadsEtcLocaltime) {
  const int status = InPrivateEtc([] {
    const std::string tokyo = Slurp(TestData("Asia_Tokyo"));
    std::ofstream("/etc/localtime", std::ios::binary) << tokyo;
    // The process's own zone, as the logger gets it.
    Check(Local().Lookup(0).utoff == kTokyo, "Local() is Tokyo");
    const auto* first = &Local();
    Check(first == &Local(), "Local() is loaded once");
    Check(LoadLocal(nullptr).file == "/etc/localtime", "file /etc/localtime");
  });
  if (status == 77) GTEST_SKIP() << "cannot make a private mount namespace";
  EXPECT_EQ(status, 0);
}

TEST(LocalTest, TzUnsetWithoutEtcLocaltimeIsUtc) {
  const int status = InPrivateEtc([] {
    const ZoneOffset o = Local().Lookup(0);
    Check(o.utoff == 0 && o.abbr == "UTC", "Local() is UTC");
    Check(LoadLocal(nullptr).file.empty(), "no file");
  });
  if (status == 77) GTEST_SKIP() << "cannot make a private mount namespace";
  EXPECT_EQ(status, 0);
}

}  // namespace
}  // namespace quorvale::time
