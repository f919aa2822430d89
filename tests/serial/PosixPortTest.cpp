#include "serial/AfPosixPort.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

#include "PtyPair.h"

namespace {

TAfDcb Block(uint32_t rate, uint8_t byteSize, uint8_t parity, uint8_t stopBits, uint32_t flags) {
  TAfDcb b;
  b.DCBlength = kAfDcbLength;
  b.BaudRate = rate;
  b.ByteSize = byteSize;
  b.Parity = parity;
  b.StopBits = stopBits;
  b.Flags = AfDcbFlag::Binary | flags;
  b.XonChar = 17;
  b.XoffChar = 19;
  return b;
}

std::filesystem::path TempPath(const char* name) {
  return std::filesystem::temp_directory_path() / (std::string(name) + "." + std::to_string(::getpid()));
}

}  // namespace

TEST(PosixPort, SecondOpenOfAHeldDeviceFailsUntilTheFirstCloses) {
  TPtyPair pty;
  ASSERT_TRUE(pty.IsValid());
  TAfPosixPort first, second;
  ASSERT_EQ(first.Open(pty.SlavePath()), TAfPosixPort::orOpened);
  EXPECT_EQ(second.Open(pty.SlavePath()), TAfPosixPort::orFailed);
  EXPECT_FALSE(second.IsOpen());
  first.Close();
  EXPECT_EQ(second.Open(pty.SlavePath()), TAfPosixPort::orOpened);
}

TEST(PosixPort, ALinkToTheDeviceOpensAndSharesItsLock) {
  TPtyPair pty;
  const auto link = TempPath("orvane-pty-link");
  std::filesystem::remove(link);
  std::filesystem::create_symlink(pty.SlavePath(), link);
  TAfPosixPort viaLink, direct;
  EXPECT_EQ(viaLink.Open(link.string()), TAfPosixPort::orOpened);
  EXPECT_EQ(direct.Open(pty.SlavePath()), TAfPosixPort::orFailed);
  std::filesystem::remove(link);
}

TEST(PosixPort, ThingsThatAreNoPortAreNotFound) {
  const auto file = TempPath("orvane-not-a-port");
  { std::FILE* f = std::fopen(file.c_str(), "w"); if (f) std::fclose(f); }
  TAfPosixPort port;
  EXPECT_EQ(port.Open("/dev/orvane-no-such-device"), TAfPosixPort::orNotFound);
  EXPECT_EQ(port.Open(file.string()), TAfPosixPort::orNotFound);  // regular file
  EXPECT_EQ(port.Open("/dev/null"), TAfPosixPort::orNotFound);    // character device, not a tty
  EXPECT_EQ(port.Open("/tmp"), TAfPosixPort::orNotFound);         // directory
  EXPECT_FALSE(port.IsOpen());
  std::filesystem::remove(file);
}

TEST(PosixPort, BlockReachesTheLineSettings) {
  struct Row {
    const char* edge;
    TAfDcb block;
  };
  const Row rows[] = {
      {"standard speed, plain line", Block(9600, 8, 0, 0, AfDcbFlag::DtrEnable | AfDcbFlag::RtsEnable)},
      {"speed without a B-code goes out through BOTHER", Block(250000, 8, 0, 0, 0)},
      {"non-standard odd speed", Block(14400, 8, 0, 2, AfDcbFlag::OutX | AfDcbFlag::InX)},
      {"RTS handshake gives hardware flow", Block(115200, 8, 0, 0, AfDcbFlag::OutxCtsFlow | AfDcbFlag::RtsHandshake)},
      {"parity check on", Block(19200, 8, 0, 0, AfDcbFlag::Parity)},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.edge);
    TPtyPair pty;
    TAfPosixPort port;
    ASSERT_EQ(port.Open(pty.SlavePath()), TAfPosixPort::orOpened);
    TAfDcb block = row.block;
    block.XonChar = 0x11;
    block.XoffChar = 0x13;
    ASSERT_TRUE(port.SetDeviceBlock(block));
    const termios t = pty.SlaveSettings();
    EXPECT_EQ(pty.SlaveSpeed(), block.BaudRate);
    EXPECT_EQ((t.c_cflag & CSTOPB) != 0, block.StopBits != 0);
    EXPECT_EQ((t.c_cflag & CRTSCTS) != 0, (block.Flags & AfDcbFlag::RtsHandshake) != 0);
    EXPECT_EQ((t.c_iflag & IXON) != 0, (block.Flags & AfDcbFlag::OutX) != 0);
    EXPECT_EQ((t.c_iflag & IXOFF) != 0, (block.Flags & AfDcbFlag::InX) != 0);
    EXPECT_EQ((t.c_iflag & INPCK) != 0, (block.Flags & AfDcbFlag::Parity) != 0);
    EXPECT_EQ(t.c_cc[VSTART], 0x11);
    EXPECT_EQ(t.c_cc[VSTOP], 0x13);
    // A raw binary line: nothing translated, echoed or turned into signals.
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP), 0u);
    EXPECT_NE(t.c_cflag & CREAD, 0u);
    EXPECT_NE(t.c_cflag & CLOCAL, 0u);

    TAfDcb back;
    ASSERT_TRUE(port.GetDeviceBlock(back));
    EXPECT_EQ(back.BaudRate, block.BaudRate);
    EXPECT_EQ(back.StopBits, block.StopBits);
    EXPECT_EQ(back.Flags & (AfDcbFlag::OutX | AfDcbFlag::InX | AfDcbFlag::Parity | AfDcbFlag::RtsHandshake),
              block.Flags & (AfDcbFlag::OutX | AfDcbFlag::InX | AfDcbFlag::Parity | AfDcbFlag::RtsHandshake));
  }
}

TEST(PosixPort, ImpossibleBlocksAreRefusedAndLeaveTheLineAlone) {
  struct Row {
    const char* edge;
    TAfDcb block;
  };
  TAfDcb shortBlock = Block(9600, 8, 0, 0, 0);
  shortBlock.DCBlength = 27;
  const Row rows[] = {
      {"4 data bits", Block(9600, 4, 0, 0, 0)},
      {"9 data bits", Block(9600, 9, 0, 0, 0)},
      {"parity code above space", Block(9600, 8, 5, 0, 0)},
      {"stop-bit code above two", Block(9600, 8, 0, 3, 0)},
      {"speed 0 would hang the line up", Block(0, 8, 0, 0, 0)},
      {"wrong block length", shortBlock},
  };
  TPtyPair pty;
  TAfPosixPort port;
  ASSERT_EQ(port.Open(pty.SlavePath()), TAfPosixPort::orOpened);
  ASSERT_TRUE(port.SetDeviceBlock(Block(57600, 8, 0, 0, 0)));
  for (const Row& row : rows) {
    SCOPED_TRACE(row.edge);
    EXPECT_FALSE(port.SetDeviceBlock(row.block));
    EXPECT_EQ(pty.SlaveSpeed(), 57600u);
  }
}

TEST(PosixPort, CountsReadsWritesAndPurgeOfInput) {
  TPtyPair pty;
  TAfPosixPort port;
  ASSERT_EQ(port.Open(pty.SlavePath()), TAfPosixPort::orOpened);
  ASSERT_TRUE(port.SetDeviceBlock(Block(115200, 8, 0, 0, 0)));

  EXPECT_EQ(port.Write("to the far side", 15), 15);
  EXPECT_EQ(pty.ReadExactly(15), "to the far side");

  pty.WriteAll("0123456789");
  // Input crosses the pty asynchronously; wait until all of it is queued.
  for (int i = 0; i < 500 && port.InCount() < 10; ++i) ::usleep(1000);
  EXPECT_EQ(port.InCount(), 10u);
  char buffer[4];
  EXPECT_EQ(port.Read(buffer, 4), 4);
  EXPECT_EQ(std::string(buffer, 4), "0123");
  EXPECT_EQ(port.InCount(), 6u);
  EXPECT_TRUE(port.Purge(AfPurge::RxAbort | AfPurge::RxClear));
  EXPECT_EQ(port.InCount(), 0u);
}
