#include "support/MyRegIniExtended.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/resource.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

class SettingsStore : public ::testing::Test {
protected:
  void SetUp() override {
    std::string pattern = ::testing::TempDir() + "hive_XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    m_dir = pattern;
    m_file = m_dir + "/nested/settings.reg";
  }
  void TearDown() override {
    TSettingsHive::SetBeforeReplaceHook({});
    std::system(("rm -rf '" + m_dir + "'").c_str());
  }
  TRegIniExtended Store() const { return TRegIniExtended(TRegIniExtended::kDefaultKey, m_file); }
  std::string FileText() const {
    std::ifstream in(m_file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  // Names in the hive's folder other than the file and its lock (left-over temporaries).
  std::vector<std::string> StrayFiles() const {
    std::vector<std::string> stray;
    if (DIR *dir = opendir((m_dir + "/nested").c_str())) {
      while (dirent *entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != ".." && name != "settings.reg" && name != "settings.reg.lock")
          stray.push_back(name);
      }
      closedir(dir);
    }
    return stray;
  }

  std::string m_dir;
  std::string m_file;
};

TEST_F(SettingsStore, EveryValueKindSurvivesTheFile) {
  std::string allBytes;
  for (int i = 0; i < 256; ++i) allBytes += static_cast<char>(i);
  const std::string oddName = std::string("n\"a\\m\0e\r\n=", 11);
  {
    TRegIniExtended store = Store();
    store.WriteString("", "Version", "1.25.8.2");
    store.WriteString("", "Quoted", "say \"hi\"\\ \r\n\t end\x7f\xe9");
    store.WriteString("", "Empty text", "");
    store.WriteBinaryString("Accounts", "all", allBytes);
    store.WriteBinaryString("Accounts", "long", std::string(1000, '\0'));
    store.WriteBinaryString("Accounts", "none", "");
    store.WriteBinaryString("Accounts", oddName, "x");
    store.WriteValue("", THiveValue{"dword", rdInteger, std::string("\xfe\xff\xff\xff", 4)});
    store.WriteValue("", THiveValue{"expand", rdExpandString, std::string("%TEMP%/a\0", 9)});
    store.WriteValue("", THiveValue{"", rdString, std::string("default\0", 8)});
    store.WriteValue("Odd", THiveValue{"other type", 7, std::string("a\0b\0\0", 5)});
  }
  const TRegIniExtended reread = Store();  // a fresh object reads the file
  EXPECT_EQ(reread.ReadString("", "Version", "?"), "1.25.8.2");
  EXPECT_EQ(reread.ReadString("", "Quoted", "?"), "say \"hi\"\\ \r\n\t end\x7f\xe9");
  EXPECT_EQ(reread.ReadString("", "Empty text", "?"), "");
  EXPECT_EQ(reread.ReadBinaryString("Accounts", "all", "?"), allBytes);
  EXPECT_EQ(reread.ReadBinaryString("Accounts", "long", "?"), std::string(1000, '\0'));
  EXPECT_EQ(reread.ReadBinaryString("Accounts", "none", "default"), "");  // not the default
  EXPECT_EQ(reread.ReadBinaryString("Accounts", oddName, "?"), "x");
  EXPECT_EQ(reread.ReadInteger("", "dword", 0), -2);
  EXPECT_EQ(reread.ReadString("", "expand", "?"), "%TEMP%/a");
  EXPECT_EQ(reread.ReadString("", "", "?"), "default");
  THiveValue odd;
  ASSERT_TRUE(reread.ReadValue("Odd", "other type", odd));
  EXPECT_EQ(odd.type, 7u);
  EXPECT_EQ(odd.data, std::string("a\0b\0\0", 5));
  EXPECT_EQ(reread.ReadSection("Accounts"),
            (std::vector<std::string>{"all", "long", "none", oddName}));
}

TEST_F(SettingsStore, BinaryReadingOfOtherKinds) {
  TRegIniExtended store = Store();
  store.WriteString("", "text", "ab");
  store.WriteValue("", THiveValue{"dword", rdInteger, std::string(4, '\1')});
  EXPECT_EQ(store.ReadBinaryString("", "text", "?"), std::string("ab\0", 3));  // with its zero
  EXPECT_EQ(store.ReadBinaryString("", "dword", "def"), "def");
  EXPECT_EQ(store.ReadBinaryString("", "missing", "def"), "def");
  EXPECT_EQ(store.ReadBinaryString("No such section", "text", "def"), "def");
  store.WriteBinaryString("", "bin", "xy");
  EXPECT_EQ(store.ReadString("", "bin", "def"), "def");  // binary is no string
}

TEST_F(SettingsStore, IntegersAreStoredAsText) {
  TRegIniExtended store = Store();
  store.WriteInteger("", "Version check", 45678);
  EXPECT_EQ(store.ReadString("", "Version check", ""), "45678");
  store.WriteString("", "Auto register", "5");
  EXPECT_GT(store.ReadInteger("", "Auto register", 0), 0);
  store.WriteString("", "Auto register", "abc");
  EXPECT_EQ(store.ReadInteger("", "Auto register", 0), 0);
  const struct {
    const char *text;
    std::int32_t expected;
  } rows[] = {{"-12", -12}, {"", 7}, {"-", 7}, {"2147483648", 7}, {"-2147483648", INT32_MIN},
              {"1,000", 7}, {" 1", 7}};
  for (const auto &row : rows) {
    store.WriteString("", "n", row.text);
    EXPECT_EQ(store.ReadInteger("", "n", 7), row.expected) << row.text;
  }
}

TEST_F(SettingsStore, NamesIgnoreLetterCase) {
  TRegIniExtended store = Store();
  store.WriteString("Ports", "COM1", "/dev/ttyS0");
  store.WriteString("ports", "com1", "/dev/pts/4");
  store.WriteString("PORTS", "COM12", "/dev/ttyUSB0");
  store.WriteInteger("Ports", "Count", 2);
  EXPECT_EQ(store.ReadString("Ports", "Com1", ""), "/dev/pts/4");
  using Pairs = std::vector<std::pair<std::string, std::string>>;
  EXPECT_EQ(store.ReadSectionValues("Ports"),
            (Pairs{{"COM1", "/dev/pts/4"}, {"COM12", "/dev/ttyUSB0"}, {"Count", "2"}}));
}

TEST_F(SettingsStore, ReadingAndIdleDeletesCreateNothing) {
  TRegIniExtended store = Store();
  EXPECT_EQ(store.ReadString("", "x", "d"), "d");
  EXPECT_TRUE(store.ReadSection("Accounts").empty());
  EXPECT_FALSE(store.SectionExists(""));
  store.DeleteKey("", "x");
  struct stat st{};
  EXPECT_NE(stat(m_file.c_str(), &st), 0);

  store.WriteString("", "a", "1");
  store.WriteString("", "b", "2");
  store.DeleteKey("", "A");
  store.DeleteKey("", "nothing");
  EXPECT_EQ(store.ReadSection(""), std::vector<std::string>{"b"});
  ASSERT_EQ(stat(m_file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_TRUE(StrayFiles().empty());
}

TEST_F(SettingsStore, SecondCopySeesChanges) {
  TRegIniExtended first = Store();
  TRegIniExtended second = Store();
  first.WriteString("", "Account ID", "one");
  EXPECT_EQ(second.ReadString("", "Account ID", ""), "one");
  second.WriteString("", "Account ID", "two");
  EXPECT_EQ(first.ReadString("", "Account ID", ""), "two");
}

TEST_F(SettingsStore, HandWrittenFileWithCommentsAndCrLf) {
  std::system(("mkdir -p '" + m_dir + "/nested'").c_str());
  std::ofstream(m_file, std::ios::binary)
      << "; written by the demo script\r\n"
      << "ORVANE SETTINGS HIVE 1\r\n\r\n"
      << "[Software\\Qel\\Orvane Monitor\\Ports]\r\n"
      << "\"COM1\"=\"/dev/pts/7\"\r\n"
      << "\"Blob\"=hex:01,\\\r\n   02\r\n";
  const TRegIniExtended store = Store();
  EXPECT_EQ(store.ReadString("Ports", "COM1", ""), "/dev/pts/7");
  EXPECT_EQ(store.ReadBinaryString("Ports", "Blob", ""), "\x01\x02");
}

// A hand edit gone wrong costs its own lines only; the file is never written
// over, and with a write error handler the refusal is handed over, not thrown.
TEST_F(SettingsStore, BadLinesAreSkippedAndTheFileIsNeitherOverwrittenNorThrownAbout) {
  const struct {
    const char *what;
    std::string badLines;
    const char *error;
  } cases[] = {
      {"Windows path in quotes", "\"X\"=\"C:\\dir\"\n", "line 4: unknown escape \\d"},
      {"bad hex byte", "\"v\"=hex:0g\n", "line 4: bad hex byte \"0g\""},
      // The values of a key line that does not read must not land in the key before it.
      {"bad key line", "[Software\\Qel\\Orvane Monitor\\Ports\n\"Auto register\"=\"0\"\n",
       "line 4: bad key line (and 1 more lines)"},
      {"hex list cut off at the end", "\"Blob\"=hex:01,\\\n", "line 4: hex list ends at the end of the file"},
  };
  std::system(("mkdir -p '" + m_dir + "/nested'").c_str());
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    const std::string text = "ORVANE SETTINGS HIVE 1\n[Software\\Qel\\Orvane Monitor]\n"
                             "\"Auto register\"=\"1\"\n" + c.badLines;
    std::ofstream(m_file, std::ios::binary | std::ios::trunc) << text;
    TRegIniExtended store = Store();
    EXPECT_EQ(store.ReadInteger("", "Auto register", 0), 1);
    EXPECT_EQ(store.ReadError(), m_file + ": " + c.error);
    try {
      store.WriteString("", "x", "1");
      ADD_FAILURE() << "write over a malformed file succeeded";
    } catch (const ESettingsWriteError &error) {
      EXPECT_NE(std::string(error.what()).find(m_file), std::string::npos) << error.what();
    }
    std::vector<std::string> handed;
    store.SetWriteErrorHandler([&](const ESettingsWriteError &error) { handed.push_back(error.what()); });
    EXPECT_FALSE(store.WriteString("", "x", "1"));
    EXPECT_FALSE(store.DeleteKey("", "Auto register"));
    EXPECT_EQ(handed.size(), 2u);
    EXPECT_EQ(FileText(), text);
    EXPECT_TRUE(StrayFiles().empty());
  }
  // A file that reads has no error and takes writes again.
  std::ofstream(m_file, std::ios::binary | std::ios::trunc) << "ORVANE SETTINGS HIVE 1\n";
  TRegIniExtended store = Store();
  EXPECT_EQ(store.ReadError(), "");
  EXPECT_TRUE(store.WriteString("", "x", "1"));
}

TEST_F(SettingsStore, FailedWriteNamesFileAndReason) {
  // A plain file where the folder should be: creating the folder fails even for root.
  std::ofstream(m_dir + "/nested") << "x";
  TRegIniExtended store = Store();
  try {
    store.WriteBinaryString("Accounts", "a", "b");
    FAIL() << "write succeeded";
  } catch (const ESettingsWriteError &error) {
    const std::string message = error.what();
    EXPECT_NE(message.find(m_file), std::string::npos) << message;
    EXPECT_NE(message.find(std::strerror(ENOTDIR)), std::string::npos) << message;
  }
}

TEST_F(SettingsStore, EveryKeyPathItWritesReadsBackAndTakesTheNextWrite) {
  // The hive's own root (an empty key path, however spelled) is a key like any other.
  const struct {
    const char *key, *section;
  } cases[] = {{"", ""}, {"\\", "\\\\"}, {"", "Sub"}, {TRegIniExtended::kDefaultKey, ""}};
  for (const auto &c : cases) {
    std::remove(m_file.c_str());
    TRegIniExtended store(c.key, m_file);
    store.WriteString(c.section, "first", "1");
    EXPECT_NO_THROW(store.WriteString(c.section, "second", "2")) << c.key << "|" << c.section;
    const TRegIniExtended reader(c.key, m_file);
    EXPECT_EQ(reader.ReadString(c.section, "first", "default"), "1") << c.key << "|" << c.section;
    EXPECT_EQ(reader.ReadString(c.section, "second", "default"), "2") << c.key << "|" << c.section;
  }
}

// Lowers the descriptor limit for the life of the object.
class TDescriptorLimit {
public:
  explicit TDescriptorLimit(rlim_t limit) {
    getrlimit(RLIMIT_NOFILE, &m_saved);
    rlimit lowered = m_saved;
    lowered.rlim_cur = limit;
    setrlimit(RLIMIT_NOFILE, &lowered);
  }
  ~TDescriptorLimit() { setrlimit(RLIMIT_NOFILE, &m_saved); }

private:
  rlimit m_saved{};
};

TEST_F(SettingsStore, TemporaryFileIsCloseOnExecAndALateFolderSyncFailureOnlyWarns) {
  bool closeOnExec = false;
  std::unique_ptr<TDescriptorLimit> limit;
  TSettingsHive::SetBeforeReplaceHook([&](int tempFd) {
    const int flags = fcntl(tempFd, F_GETFD);
    closeOnExec = flags >= 0 && (flags & FD_CLOEXEC);
    // Every descriptor below the temporary one is taken, so once it is closed the
    // rename still works but the folder cannot be opened for its sync.
    limit = std::make_unique<TDescriptorLimit>(static_cast<rlim_t>(tempFd));
  });
  TRegIniExtended store = Store();
  testing::internal::CaptureStderr();
  EXPECT_NO_THROW(store.WriteString("", "kept", "yes"));
  const std::string warning = testing::internal::GetCapturedStderr();
  limit.reset();
  TSettingsHive::SetBeforeReplaceHook({});
  EXPECT_TRUE(closeOnExec);
  EXPECT_EQ(Store().ReadString("", "kept", ""), "yes");
  EXPECT_NE(warning.find(m_file), std::string::npos) << warning;
  EXPECT_NE(warning.find(std::strerror(EMFILE)), std::string::npos) << warning;
}

// The content every crash-test save writes: a long value that carries its own sequence
// number everywhere, so a torn or mixed file cannot pass as a whole state.
std::string Generation(int n) {
  std::string text;
  while (text.size() < 20000) text += std::to_string(n) + ";";
  return text;
}

int GenerationOf(const std::string &text) {
  const int n = std::atoi(text.c_str());
  return text == Generation(n) ? n : -1;
}

TEST_F(SettingsStore, KilledWriterLeavesOldOrNewState) {
  Store().WriteBinaryString("", "state", Generation(0));

  // Killed at the most exposed moment: new file written and synced, not yet renamed.
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    TSettingsHive::SetBeforeReplaceHook([&](int) {
      const char byte = 1;
      (void)!write(ready[1], &byte, 1);
      for (;;) pause();
    });
    Store().WriteBinaryString("", "state", Generation(1));
    _exit(3);
  }
  char byte;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  kill(child, SIGKILL);
  int status;
  waitpid(child, &status, 0);
  close(ready[0]);
  close(ready[1]);
  EXPECT_EQ(GenerationOf(Store().ReadBinaryString("", "state", "")), 0);
  EXPECT_EQ(StrayFiles().size(), 1u);  // the dead writer's temporary file

  // Killed at arbitrary moments while saving in a loop.
  for (int round = 0; round < 8; ++round) {
    const int before = GenerationOf(Store().ReadBinaryString("", "state", ""));
    ASSERT_GE(before, 0);
    int started[2];
    ASSERT_EQ(pipe(started), 0);
    const pid_t writer = fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
      TRegIniExtended store = Store();
      for (int n = before + 1;; ++n) {
        store.WriteBinaryString("", "state", Generation(n));
        if (n == before + 1) (void)!write(started[1], "s", 1);
      }
    }
    ASSERT_EQ(read(started[0], &byte, 1), 1);
    usleep(static_cast<useconds_t>(500 + round * 700));
    kill(writer, SIGKILL);
    waitpid(writer, &status, 0);
    close(started[0]);
    close(started[1]);
    const int after = GenerationOf(Store().ReadBinaryString("", "state", ""));
    EXPECT_GT(after, before) << "round " << round;
  }

  // The next write clears what dead writers left.
  Store().WriteString("", "after", "yes");
  EXPECT_TRUE(StrayFiles().empty());
}

TEST_F(SettingsStore, TwoProcessesKeepEachOthersValues) {
  constexpr int kWrites = 40;
  pid_t children[2];
  for (int c = 0; c < 2; ++c) {
    children[c] = fork();
    ASSERT_GE(children[c], 0);
    if (children[c] == 0) {
      TRegIniExtended store = Store();
      for (int i = 0; i < kWrites; ++i)
        store.WriteInteger(c ? "B" : "A", "v" + std::to_string(i), i * 10 + c);
      _exit(0);
    }
  }
  for (pid_t child : children) {
    int status = -1;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  const TRegIniExtended store = Store();
  for (int c = 0; c < 2; ++c)
    for (int i = 0; i < kWrites; ++i)
      EXPECT_EQ(store.ReadInteger(c ? "B" : "A", "v" + std::to_string(i), -1), i * 10 + c);
}

TEST(SettingsHiveFile, DefaultLocation) {
  const char *oldDir = std::getenv("ORVANE_SETTINGS_DIR");
  const std::string savedDir = oldDir ? oldDir : "";
  const char *oldXdg = std::getenv("XDG_CONFIG_HOME");
  const std::string savedXdg = oldXdg ? oldXdg : "";
  setenv("ORVANE_SETTINGS_DIR", "/run/demo", 1);
  EXPECT_EQ(TSettingsHive::DefaultFileName(), "/run/demo/settings.reg");
  unsetenv("ORVANE_SETTINGS_DIR");
  setenv("XDG_CONFIG_HOME", "/cfg", 1);
  EXPECT_EQ(TSettingsHive::DefaultFileName(), "/cfg/Qel/Orvane Monitor/settings.reg");
  unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(TSettingsHive::DefaultFileName(),
            std::string(std::getenv("HOME")) + "/.config/Qel/Orvane Monitor/settings.reg");
  if (oldDir) setenv("ORVANE_SETTINGS_DIR", savedDir.c_str(), 1);
  if (oldXdg) setenv("XDG_CONFIG_HOME", savedXdg.c_str(), 1);
}

TEST(SettingsHiveFile, RejectsForeignText) {
  THiveData data;
  std::string error;
  EXPECT_FALSE(THiveData::Parse("[Key]\n\"a\"=\"b\"\n", data, error));  // no header
  EXPECT_FALSE(THiveData::Parse("ORVANE SETTINGS HIVE 1\n\"a\"=\"b\"\n", data, error));
  EXPECT_FALSE(THiveData::Parse("ORVANE SETTINGS HIVE 1\n[K]\n\"a\"=\"b\n", data, error));
  EXPECT_FALSE(THiveData::Parse("ORVANE SETTINGS HIVE 1\n[K]\n\"a\"=dword:123\n", data, error));
  EXPECT_FALSE(THiveData::Parse("ORVANE SETTINGS HIVE 1\n[K]\n\"a\"=\"\\q\"\n", data, error));
  EXPECT_EQ(error, "line 3: unknown escape \\q");
  EXPECT_TRUE(THiveData::Parse("", data, error));
}

} // namespace
