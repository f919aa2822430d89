#include "AfPosixPort.h"

// The kernel's own termios (termios2) is used instead of the C library's:
// it carries arbitrary line speeds (BOTHER), which the C library's termios
// cannot express. The two definitions cannot share a translation unit.
#include <asm/termbits.h>
#include <cerrno>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct TSpeedCode {
  uint32_t rate;
  unsigned code;
};
// Rates the termios speed codes name; any other rate goes out as BOTHER.
constexpr TSpeedCode kSpeedCodes[] = {
    {50, B50},         {75, B75},           {110, B110},         {134, B134},         {150, B150},
    {200, B200},       {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
    {2400, B2400},     {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},   {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000}, {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
};

unsigned SpeedCode(uint32_t rate) {
  for (const auto& s : kSpeedCodes)
    if (s.rate == rate) return s.code;
  return BOTHER;
}

thread_local int t_lastError = 0;

int Ioctl(int fd, unsigned long request, void* arg) {
  int r;
  do r = ::ioctl(fd, request, arg);
  while (r < 0 && errno == EINTR);
  return r;
}

}  // namespace

TAfPosixPort::~TAfPosixPort() { Close(); }

int TAfPosixPort::LastError() { return t_lastError; }

TAfPosixPort::TOpenResult TAfPosixPort::Open(const std::string& path) {
  Close();
  int fd;
  do fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    t_lastError = errno;
    // EIO: a serial node whose UART is absent (the 8250 driver keeps such nodes).
    const bool missing = t_lastError == ENOENT || t_lastError == ENODEV || t_lastError == ENXIO ||
                         t_lastError == ENOTDIR || t_lastError == EISDIR || t_lastError == EIO;
    return missing ? orNotFound : orFailed;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) {
    t_lastError = ENODEV;
    ::close(fd);
    return orNotFound;
  }
  // The lock comes first: it is what tells another user of the port (root
  // passes TIOCEXCL, and TIOCEXCL would also be ours to undo on failure).
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    t_lastError = errno;
    ::close(fd);
    return orFailed;
  }
  if (Ioctl(fd, TIOCEXCL, nullptr) != 0) {
    t_lastError = errno;
    ::close(fd);
    return t_lastError == ENOTTY ? orNotFound : orFailed;
  }
  m_fd = fd;
  t_lastError = 0;
  ResetBaselines();
  return orOpened;
}

void TAfPosixPort::Close() {
  if (m_fd < 0) return;
  Ioctl(m_fd, TIOCNXCL, nullptr);
  ::close(m_fd);  // also drops the lock
  m_fd = -1;
}

bool TAfPosixPort::SetTimeouts() {
  struct termios2 t {};
  if (Ioctl(m_fd, TCGETS2, &t) != 0) {
    t_lastError = errno;
    return false;
  }
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  if (Ioctl(m_fd, TCSETS2, &t) != 0) {
    t_lastError = errno;
    return false;
  }
  return true;
}

bool TAfPosixPort::SetQueueSizes(uint32_t inQueue, uint32_t outQueue) {
  if (m_fd < 0) return false;
  m_inQueue = inQueue;
  m_outQueue = outQueue;
  return true;
}

bool TAfPosixPort::SetEventMask(uint32_t mask) {
  if (m_fd < 0) return false;
  m_eventMask = mask;
  return true;
}

bool TAfPosixPort::SetDeviceBlock(const TAfDcb& block) {
  if (m_fd < 0) {
    t_lastError = EBADF;
    return false;
  }
  if (block.DCBlength != kAfDcbLength || block.BaudRate == 0 || block.ByteSize < 5 || block.ByteSize > 8 ||
      block.Parity > 4 || block.StopBits > 2) {
    t_lastError = EINVAL;
    return false;
  }
  struct termios2 t {};
  if (Ioctl(m_fd, TCGETS2, &t) != 0) {
    t_lastError = errno;
    return false;
  }
  // Raw binary line: no echo, no line editing, no signals, no translation.
  t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY | INPCK |
                 IGNPAR | IUCLC | IMAXBEL);
  t.c_oflag &= ~OPOST;
  t.c_lflag &= ~(ECHO | ECHONL | ECHOE | ECHOK | ECHOCTL | ECHOKE | ICANON | ISIG | IEXTEN);
  t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | CBAUD | (CBAUD << IBSHIFT));
  t.c_cflag |= CREAD | CLOCAL;

  static constexpr unsigned kSizes[] = {CS5, CS6, CS7, CS8};
  t.c_cflag |= kSizes[block.ByteSize - 5];
  switch (block.Parity) {
    case 1: t.c_cflag |= PARENB | PARODD; break;
    case 2: t.c_cflag |= PARENB; break;
    case 3: t.c_cflag |= PARENB | PARODD | CMSPAR; break;
    case 4: t.c_cflag |= PARENB | CMSPAR; break;
    default: break;
  }
  // Linux has one "more than one stop bit" setting; the UART makes it 1.5 at 5 bits.
  if (block.StopBits != 0) t.c_cflag |= CSTOPB;
  if (block.Flags & AfDcbFlag::Parity) t.c_iflag |= INPCK;
  if (block.Flags & AfDcbFlag::OutX) t.c_iflag |= IXON;
  if (block.Flags & AfDcbFlag::InX) t.c_iflag |= IXOFF;
  // Linux couples CTS output flow and RTS input handshake in one switch. The
  // DSR/DTR handshake has no counterpart and is left to the far side.
  if ((block.Flags & AfDcbFlag::OutxCtsFlow) ||
      (block.Flags & AfDcbFlag::RtsControlMask) == AfDcbFlag::RtsHandshake)
    t.c_cflag |= CRTSCTS;

  const unsigned code = SpeedCode(block.BaudRate);
  t.c_cflag |= code;
  t.c_ispeed = block.BaudRate;
  t.c_ospeed = block.BaudRate;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  t.c_cc[VSTART] = static_cast<cc_t>(block.XonChar);
  t.c_cc[VSTOP] = static_cast<cc_t>(block.XoffChar);
  if (Ioctl(m_fd, TCSETS2, &t) != 0) {
    t_lastError = errno;
    return false;
  }

  // The modem lines follow the block. Drivers without modem lines (ptys)
  // refuse these ioctls; that is not a settings failure.
  int dtr = TIOCM_DTR;
  Ioctl(m_fd, (block.Flags & AfDcbFlag::DtrControlMask) ? TIOCMBIS : TIOCMBIC, &dtr);
  const uint32_t rtsMode = block.Flags & AfDcbFlag::RtsControlMask;
  if (rtsMode != AfDcbFlag::RtsHandshake) {
    int rts = TIOCM_RTS;
    Ioctl(m_fd, rtsMode ? TIOCMBIS : TIOCMBIC, &rts);
  }
  return true;
}

bool TAfPosixPort::GetDeviceBlock(TAfDcb& block) {
  struct termios2 t {};
  if (m_fd < 0 || Ioctl(m_fd, TCGETS2, &t) != 0) {
    t_lastError = m_fd < 0 ? EBADF : errno;
    return false;
  }
  TAfDcb b;
  b.DCBlength = kAfDcbLength;
  b.BaudRate = t.c_ospeed;
  switch (t.c_cflag & CSIZE) {
    case CS5: b.ByteSize = 5; break;
    case CS6: b.ByteSize = 6; break;
    case CS7: b.ByteSize = 7; break;
    default: b.ByteSize = 8; break;
  }
  if (t.c_cflag & PARENB) {
    const bool odd = (t.c_cflag & PARODD) != 0;
    if (t.c_cflag & CMSPAR)
      b.Parity = odd ? 3 : 4;
    else
      b.Parity = odd ? 1 : 2;
  }
  if (t.c_cflag & CSTOPB) b.StopBits = b.ByteSize == 5 ? 1 : 2;
  b.Flags = AfDcbFlag::Binary;
  if (t.c_iflag & INPCK) b.Flags |= AfDcbFlag::Parity;
  if (t.c_iflag & IXON) b.Flags |= AfDcbFlag::OutX;
  if (t.c_iflag & IXOFF) b.Flags |= AfDcbFlag::InX;
  int lines = 0;
  const bool haveLines = ReadModemLines(lines);
  if (!haveLines || (lines & TIOCM_DTR)) b.Flags |= AfDcbFlag::DtrEnable;
  if (t.c_cflag & CRTSCTS)
    b.Flags |= AfDcbFlag::OutxCtsFlow | AfDcbFlag::RtsHandshake;
  else if (!haveLines || (lines & TIOCM_RTS))
    b.Flags |= AfDcbFlag::RtsEnable;
  b.XonChar = static_cast<char>(t.c_cc[VSTART]);
  b.XoffChar = static_cast<char>(t.c_cc[VSTOP]);
  block = b;
  return true;
}

bool TAfPosixPort::Escape(uint32_t code) {
  if (m_fd < 0) return false;
  int bits = 0;
  int r = -1;
  switch (code) {
    case AfEscape::SetRts: bits = TIOCM_RTS; r = Ioctl(m_fd, TIOCMBIS, &bits); break;
    case AfEscape::ClrRts: bits = TIOCM_RTS; r = Ioctl(m_fd, TIOCMBIC, &bits); break;
    case AfEscape::SetDtr: bits = TIOCM_DTR; r = Ioctl(m_fd, TIOCMBIS, &bits); break;
    case AfEscape::ClrDtr: bits = TIOCM_DTR; r = Ioctl(m_fd, TIOCMBIC, &bits); break;
    case AfEscape::SetBreak: r = Ioctl(m_fd, TIOCSBRK, nullptr); break;
    case AfEscape::ClrBreak: r = Ioctl(m_fd, TIOCCBRK, nullptr); break;
    case AfEscape::SetXOff: r = ::ioctl(m_fd, TCXONC, TCOOFF); break;
    case AfEscape::SetXOn: r = ::ioctl(m_fd, TCXONC, TCOON); break;
    default: t_lastError = EINVAL; return false;
  }
  if (r != 0) t_lastError = errno;
  return r == 0;
}

bool TAfPosixPort::Purge(uint32_t flags) {
  if (m_fd < 0) return false;
  // Reads and writes never wait here, so there is nothing in flight to abort;
  // only the clear flags reach the driver.
  const bool out = flags & AfPurge::TxClear;
  const bool in = flags & AfPurge::RxClear;
  if (!out && !in) return true;
  const int which = out && in ? TCIOFLUSH : (out ? TCOFLUSH : TCIFLUSH);
  if (::ioctl(m_fd, TCFLSH, which) != 0) {
    t_lastError = errno;
    return false;
  }
  return true;
}

uint32_t TAfPosixPort::InCount() {
  int n = 0;
  if (m_fd < 0 || Ioctl(m_fd, FIONREAD, &n) != 0 || n < 0) return 0;
  return static_cast<uint32_t>(n);
}

uint32_t TAfPosixPort::OutCount() {
  int n = 0;
  if (m_fd < 0 || Ioctl(m_fd, TIOCOUTQ, &n) != 0 || n < 0) return 0;
  return static_cast<uint32_t>(n);
}

bool TAfPosixPort::ReadCounters(TCounters& c) {
  struct serial_icounter_struct ic {};
  if (m_fd < 0 || Ioctl(m_fd, TIOCGICOUNT, &ic) != 0) return false;
  c.cts = ic.cts;
  c.dsr = ic.dsr;
  c.rng = ic.rng;
  c.dcd = ic.dcd;
  c.frame = ic.frame;
  c.overrun = ic.overrun;
  c.parity = ic.parity;
  c.brk = ic.brk;
  c.bufOverrun = ic.buf_overrun;
  return true;
}

bool TAfPosixPort::ReadModemLines(int& lines) { return m_fd >= 0 && Ioctl(m_fd, TIOCMGET, &lines) == 0; }

void TAfPosixPort::ResetBaselines() {
  std::lock_guard lock(m_baselineMutex);
  TCounters c;
  m_haveCounters = ReadCounters(c);
  m_errorBase = c;
  m_modemBase = c;
  m_haveLines = ReadModemLines(m_lines);
}

uint32_t TAfPosixPort::TakeLineErrors() {
  std::lock_guard lock(m_baselineMutex);
  TCounters now;
  if (!m_haveCounters || !ReadCounters(now)) return 0;
  uint32_t flags = 0;
  if (now.frame != m_errorBase.frame) flags |= AfLineError::Frame;
  if (now.overrun != m_errorBase.overrun) flags |= AfLineError::Overrun;
  if (now.parity != m_errorBase.parity) flags |= AfLineError::RxParity;
  if (now.brk != m_errorBase.brk) flags |= AfLineError::Break;
  if (now.bufOverrun != m_errorBase.bufOverrun) flags |= AfLineError::RxOver;
  m_errorBase = now;
  return flags;
}

uint32_t TAfPosixPort::TakeModemEvents() {
  std::lock_guard lock(m_baselineMutex);
  uint32_t events = 0;
  TCounters now;
  // The transition counters also catch a pulse that is over before we look.
  if (m_haveCounters && ReadCounters(now)) {
    if (now.cts != m_modemBase.cts) events |= AfEvent::Cts;
    if (now.dsr != m_modemBase.dsr) events |= AfEvent::Dsr;
    if (now.rng != m_modemBase.rng) events |= AfEvent::Ring;
    if (now.dcd != m_modemBase.dcd) events |= AfEvent::Rlsd;
    m_modemBase = now;
  } else if (m_haveLines) {
    int lines = 0;
    if (ReadModemLines(lines)) {
      const int changed = lines ^ m_lines;
      if (changed & TIOCM_CTS) events |= AfEvent::Cts;
      if (changed & TIOCM_DSR) events |= AfEvent::Dsr;
      if (changed & TIOCM_RNG) events |= AfEvent::Ring;
      if (changed & TIOCM_CD) events |= AfEvent::Rlsd;
      m_lines = lines;
    }
  }
  return events & m_eventMask;
}

ssize_t TAfPosixPort::Read(void* buffer, size_t count) {
  if (m_fd < 0) {
    t_lastError = EBADF;
    return -1;
  }
  ssize_t r;
  do r = ::read(m_fd, buffer, count);
  while (r < 0 && errno == EINTR);
  if (r < 0) t_lastError = errno;
  return r;
}

ssize_t TAfPosixPort::Write(const void* data, size_t count) {
  if (m_fd < 0) {
    t_lastError = EBADF;
    return -1;
  }
  ssize_t r;
  do r = ::write(m_fd, data, count);
  while (r < 0 && errno == EINTR);
  if (r < 0) t_lastError = errno;
  return r;
}
