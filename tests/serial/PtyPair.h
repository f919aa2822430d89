#pragma once
// A pseudo-terminal for the serial tests: the test keeps the master (the far
// side, where "the gateway" sits); the slave path is what the port opens.

#include <chrono>
#include <string>
#include <termios.h>

class TPtyPair {
 public:
  TPtyPair();
  ~TPtyPair();
  TPtyPair(const TPtyPair&) = delete;
  TPtyPair& operator=(const TPtyPair&) = delete;

  bool IsValid() const { return m_master >= 0; }
  int Master() const { return m_master; }
  const std::string& SlavePath() const { return m_slavePath; }

  void WriteAll(const std::string& data);
  // Reads until count bytes came or the limit passed.
  std::string ReadExactly(size_t count, std::chrono::milliseconds limit = std::chrono::seconds(5));
  // Bytes that arrive within the limit (reads until quiet for that long).
  std::string ReadAvailable(std::chrono::milliseconds quiet = std::chrono::milliseconds(50));
  void CloseMaster();
  // The slave's line settings as seen from the master.
  termios SlaveSettings() const;
  // The slave's output speed in bits per second (any rate, not only B-codes).
  unsigned SlaveSpeed() const;

 private:
  int m_master = -1;
  std::string m_slavePath;
};

// Kernel termios2 speed query, kept in its own file (it cannot share one with <termios.h>).
unsigned PtyOutputSpeed(int fd);
