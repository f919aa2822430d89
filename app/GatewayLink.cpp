// The gateway dialogue: the command queue with its send timer and
// retransmission, the keep-alive, the assembly of received bytes into lines
// and the dispatch of each line by its first word.
#include "FOvMonitor.h"

#include <string_view>

#include "GatewayTrace.h"
#include "serial/AfComPort.h"
#include "support/MyFunctions.h"
#include "ui_uOrvaneMonitor.h"
#include "widgets/LedPanel.h"

namespace {

// A command that gets no acknowledgement is written again after this long.
constexpr int kRetransmitMs = 1000;
// After an acknowledgement the next command follows this soon, giving the
// gateway a moment between two answers.
constexpr int kNextCommandMs = 100;

// The one command the gateway cannot acknowledge: it is restarting.
const std::string kReboot = "%reboot";

}  // namespace

void TFOvMonitor::QueueCommand(const std::string& command, const std::string& argument) {
  CommandQueue.push_back(argument.empty() ? command : command + " " + argument);
  if (!tCommands.isActive()) tCommandsTimer();
}

void TFOvMonitor::QueueCommandInt(const std::string& command, int value) {
  QueueCommand(command, std::to_string(value));
}

void TFOvMonitor::QueueCommandFlag(const std::string& command, bool flag) {
  QueueCommand(command, flag ? "1" : "0");
}

// The send step. Only the head is ever on the wire; it stays queued until an
// acknowledgement matches it (HandleLine), so an unanswered command repeats.
void TFOvMonitor::tCommandsTimer() {
  tCommands.stop();
  if (!cCom->IsPortOpen()) {
    tKeepAlive.stop();
    ClearQueue();
    return;
  }
  if (CommandQueue.empty()) return;
  try {
    cCom->WriteText(CommandQueue.front() + "\r");
    TraceGatewaySent(CommandQueue.front());
    m_headWritten = true;
    tCommands.setInterval(kRetransmitMs);
    tCommands.start();
    if (CommandQueue.front() == kReboot) PopHead();
    // The keep-alive counts its 60 s from the last transmission.
    tKeepAlive.stop();
    tKeepAlive.start();
  } catch (...) {
    // The dialogue shows no errors: a refused write leaves the head queued and
    // the timer stopped; the next QueueCommand tries again.
  }
}

void TFOvMonitor::PopHead() {
  CommandQueue.pop_front();
  m_headWritten = false;
}

void TFOvMonitor::ClearQueue() {
  CommandQueue.clear();
  m_headWritten = false;
}

void TFOvMonitor::tKeepAliveTimer() { QueueCommandFlag("%show_state", true); }

void TFOvMonitor::cComDataRecived() { ReceiveBytes(cCom->ReadAllText()); }

namespace {

// LF, CR and blanks off both ends; a tab stays.
std::string_view TrimLine(std::string_view line) {
  const auto blank = [](char c) { return c == '\n' || c == '\r' || c == ' '; };
  while (!line.empty() && blank(line.front())) line.remove_prefix(1);
  while (!line.empty() && blank(line.back())) line.remove_suffix(1);
  return line;
}

}  // namespace

// One pass over the new bytes and one compaction per event: lines are cut by
// moving an offset, not by erasing each from the front of the buffer, which
// made a burst of n lines cost n times the buffer.
void TFOvMonitor::ReceiveBytes(const std::string& bytes) {
  std::size_t from = 0;
  if (m_skippingLongLine) {
    // Everything up to the CR that ends the over-long line belongs to it.
    const std::size_t cr = bytes.find('\r');
    if (cr == std::string::npos) return;
    m_skippingLongLine = false;
    from = cr + 1;
  }
  RxBuffer.append(bytes, from, std::string::npos);

  // A parser may run a nested event loop (an error message) in which more
  // bytes arrive: the nested call goes on from the shared offsets, so lines
  // keep their order, and only the outermost call compacts the buffer.
  ++m_receiveDepth;
  for (;;) {
    const std::size_t cr = RxBuffer.find('\r', m_rxScanned);
    if (cr == std::string::npos) {
      m_rxScanned = RxBuffer.size();
      break;
    }
    const std::size_t start = m_rxConsumed;
    m_rxConsumed = m_rxScanned = cr + 1;
    if (cr - start >= kMaxLineLength) continue;
    // A view into the buffer, not a copy: HandleText is done with it before a
    // parser (which gets its own copy) could let a nested call move the buffer.
    const std::string_view line = TrimLine(std::string_view(RxBuffer).substr(start, cr - start));
    if (!line.empty()) HandleText(line);
  }
  if (--m_receiveDepth > 0) return;
  RxBuffer.erase(0, m_rxConsumed);
  m_rxScanned -= m_rxConsumed;
  m_rxConsumed = 0;

  // Without a bound a gateway (or line noise) that never sends a CR would grow
  // the buffer without end; such bytes are dropped as one over-long line.
  if (RxBuffer.size() >= kMaxLineLength) {
    ClearReceived();
    m_skippingLongLine = true;
  }
}

void TFOvMonitor::ClearReceived() {
  RxBuffer.clear();
  m_rxConsumed = m_rxScanned = 0;
  m_skippingLongLine = false;
}

void TFOvMonitor::HandleLine(const std::string& line) { HandleText(line); }

void TFOvMonitor::HandleText(std::string_view text) {
  TraceGatewayReceived(text);
  if (m_lineObserver) m_lineObserver(text);
  // Keywords are a few bytes long: a plain loop beats a library search here.
  std::size_t space = 0;
  while (space < text.size() && text[space] != ' ') ++space;
  const std::string_view keyword = text.substr(0, space);
  const std::string_view argument = space < text.size() ? text.substr(space + 1) : std::string_view();

  if (keyword == "OK" || keyword == "ERROR") {
    ui->lOK->TriggerColor(keyword == "OK" ? clLime : clRed);
    // Only a head that went out can be answered. A gateway that was slow to
    // answer acknowledges the command and its retransmission back to back; the
    // second acknowledgement must not take away the next command unsent.
    if (CommandQueue.empty() || !m_headWritten) return;
    // The gateway names the command without its "%", or only a leading part
    // of it, or nothing at all; a bare acknowledgement matches any head.
    const std::string_view head = CommandQueue.front();
    const std::string_view named = head.size() > 1 ? head.substr(1, argument.size()) : std::string_view();
    if (named == argument) {
      tCommands.stop();
      tCommands.setInterval(kNextCommandMs);
      PopHead();
      tCommands.start();
    }
    return;
  }
  Dispatch(keyword, argument);
}

void TFOvMonitor::Dispatch(std::string_view keyword, std::string_view argument) {
  // Report lines are not tied to the head of the queue; none acknowledges it.
  // This runs for every line of a burst, so the keyword is told by its length
  // and one character before a single full comparison, not by a table walk.
  using Parser = void (TFOvMonitor::*)(const std::string&);
  const auto match = [&keyword](std::string_view name, Parser parser) { return keyword == name ? parser : nullptr; };
  if (keyword.size() < 3 || keyword[0] != ':') return;
  Parser parser = nullptr;
  switch (keyword.size()) {
    case 3: parser = match(":io", &TFOvMonitor::ParseIO); break;
    case 4: parser = keyword[1] == 's' ? match(":sim", &TFOvMonitor::ParseSIM) : match(":get", &TFOvMonitor::ParseGet); break;
    case 5:
      switch (keyword[1]) {
        case 'g': parser = match(":gnss", &TFOvMonitor::ParseGNSS); break;
        case 'c': parser = match(":cell", &TFOvMonitor::ParseCell); break;
        case 'w': parser = match(":wifi", &TFOvMonitor::ParseWiFi); break;
        case 'i': parser = match(":info", &TFOvMonitor::ParseInfo); break;
        default: break;
      }
      break;
    case 6: parser = match(":state", &TFOvMonitor::ShowCloudState); break;
    case 7: parser = match(":brg2gw", &TFOvMonitor::ParseBridgeReport); break;
    default: break;
  }
  if (parser) (this->*parser)(std::string(argument));
}
