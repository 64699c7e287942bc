// The forwarding thread: a queue the reading fills without waiting, and a
// connection that is made again, with growing pauses, when it is lost.
#include "forward/forward.h"

#include <algorithm>
#include <cstdlib>

#include "forward/syslog.h"
#include "platform/platform.h"

namespace {

constexpr char TcpScheme[] = "syslog+tcp://";
constexpr char UdpScheme[] = "syslog+udp://";
// What a queued record costs beyond its text, so that empty ones count too.
constexpr size_t QueuedOverhead = 64;

bool startsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// "N records dropped": the first record that reaches the collector after a
// gap says how many it lost.
std::string droppedText(uint64_t count) {
  return "--- " + std::to_string(count) + " record" + (count == 1 ? "" : "s") +
         " dropped: the collector was away or slow and the queue was full ---";
}

}  // namespace

bool parseForwardUrl(const std::string& url, ForwardTarget* target, std::string* error) {
  const bool tcp = startsWith(url, TcpScheme);
  if (!tcp && !startsWith(url, UdpScheme)) {
    *error = "--forward takes syslog+tcp://HOST[:PORT] or syslog+udp://HOST[:PORT], not \"" + url + "\"";
    return false;
  }
  const std::string rest = url.substr(tcp ? sizeof TcpScheme - 1 : sizeof UdpScheme - 1);
  std::string host, port;
  if (!rest.empty() && rest[0] == '[') {
    const size_t close = rest.find(']');
    if (close == std::string::npos) {
      *error = "--forward: an IPv6 address is not closed by \"]\" in \"" + url + "\"";
      return false;
    }
    host = rest.substr(1, close - 1);
    if (close + 1 < rest.size()) {
      if (rest[close + 1] != ':') host.clear();
      port = rest.substr(close + 2);
    }
  } else {
    const size_t colon = rest.find(':');
    host = rest.substr(0, colon);
    if (colon != std::string::npos) port = rest.substr(colon + 1);
  }
  const bool hostValid = !host.empty() && host.find_first_of("/?#@ ") == std::string::npos;
  char* end = nullptr;
  const unsigned long number = port.empty() ? 0 : std::strtoul(port.c_str(), &end, 10);
  const bool portValid = port.empty() || (port.find_first_not_of("0123456789") == std::string::npos &&
                                          number >= 1 && number <= 65535 && !*end);
  if (!hostValid || !portValid || (rest.find(':') != std::string::npos && port.empty() && rest[0] != '[')) {
    *error = "--forward: \"" + url + "\" names no HOST[:PORT] (a port from 1 to 65535)";
    return false;
  }
  target->transport = tcp ? Transport::Tcp : Transport::Udp;
  target->host = host;
  target->port = port.empty() ? (tcp ? DefaultTcpPort : DefaultUdpPort) : static_cast<uint16_t>(number);
  return true;
}

size_t Forwarder::Queued::bytes() const { return id.size() + text.size() + program.size() + QueuedOverhead; }

Record Forwarder::Queued::sent() const {
  Record sent = record;
  sent.id = id;
  sent.text = text;
  return sent;
}

Forwarder::Forwarder(ForwardSettings settings, Notice notice)
    : settings_(std::move(settings)),
      notice_(std::move(notice)),
      hostname_(machineName()),
      ownProcId_(std::to_string(currentProcessId())) {
  thread_ = startWorker([this] { run(); });
}

Forwarder::~Forwarder() { finish(); }

void Forwarder::take(const Record& record, const WriterTag* writer) {
  Queued item{record, std::string(record.id), std::string(record.text),
              writer ? writer->program : settings_.sourceName, writer ? std::to_string(writer->pid) : std::string()};
  const size_t bytes = item.bytes();
  queue_.push(std::move(item), bytes);
}

ForwardTotals Forwarder::finish() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!stopping_) {
      stopping_ = true;
      deadline_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(FinishMilliseconds);
    }
  }
  stopped_.notify_all();
  queue_.close();
  if (thread_.joinable()) thread_.join();
  return totals_;
}

bool Forwarder::timeUp() {
  std::lock_guard<std::mutex> lock(mutex_);
  return stopping_ && std::chrono::steady_clock::now() > deadline_;
}

void Forwarder::run() {
  // How long a take waits for records before it looks again.
  constexpr std::chrono::milliseconds TakeWait(1000);
  std::vector<Entry> batch;
  size_t next = 0;  // the first entry of the batch not yet sent
  unsigned retry = settings_.firstRetryMilliseconds;
  for (;;) {
    if (next == batch.size()) {
      batch.clear();
      next = 0;
      if (!takeBatch(&batch, TakeWait)) break;  // closed, and all sent
      continue;
    }
    if (timeUp()) break;
    if (deliver(&batch[next])) {
      ++next;
      retry = settings_.firstRetryMilliseconds;
      continue;
    }
    if (settings_.pausing) settings_.pausing(retry);
    std::unique_lock<std::mutex> lock(mutex_);
    // Once the end has come, one attempt more is all it gets.
    if (stopping_) break;
    stopped_.wait_for(lock, std::chrono::milliseconds(retry), [this] { return stopping_; });
    retry = std::min(retry * 2, settings_.lastRetryMilliseconds);
  }
  // What never left: the rest of the batch, and of the queue.
  do {
    for (size_t i = next; i < batch.size(); ++i) totals_.unsent += batch[i].item ? 1 : 0;
    batch.clear();
    next = 0;
  } while (takeBatch(&batch, std::chrono::milliseconds(0)));
}

bool Forwarder::takeBatch(std::vector<Entry>* batch, std::chrono::milliseconds wait) {
  if (!queue_.take(batch, wait)) return false;
  for (const Entry& entry : *batch) totals_.dropped += entry.dropped;
  return true;
}

// Sends the drops counted before the entry, then its record.
bool Forwarder::deliver(Entry* entry) {
  if (connection_ && connection_->closed()) {
    connection_.reset();
    lost("it closed the connection");
  }
  if (!connection_) {
    std::string error;
    connection_ = connectTo(settings_.target.transport, settings_.target.host, settings_.target.port, &error);
    if (!connection_) {
      lost(error);
      return false;
    }
    if (down_) notice_("reached " + settings_.url + (reachedOnce_ ? " again" : ""));
    down_ = false;
    reachedOnce_ = true;
  }
  if (entry->dropped > 0) {
    const std::string text = droppedText(entry->dropped);
    if (!sendRecord(viewerNotice(text), ViewerProgram, ownProcId_)) return false;
    entry->dropped = 0;
  }
  if (!entry->item) return true;
  const Queued& item = *entry->item;
  return sendRecord(item.sent(), item.program, item.procId);
}

bool Forwarder::sendRecord(const Record& record, const std::string& program, const std::string& procId) {
  const SyslogTime time = syslogTimeOf(record.received);
  const SyslogOrigin origin{hostname_, program, procId};
  const bool datagram = settings_.target.transport == Transport::Udp;
  std::string text = formatSyslog(record, settings_.facility, origin, time, datagram ? DatagramBytes : 0);
  // Octet counting: the length, a space, the record; its newlines stay its own.
  if (!datagram) text = std::to_string(text.size()) + " " + text;
  std::string error;
  if (!connection_->send(text, &error)) {
    connection_.reset();
    lost(error);
    return false;
  }
  ++totals_.sent;
  return true;
}

void Forwarder::lost(const std::string& reason) {
  if (down_) return;
  down_ = true;
  notice_("cannot reach " + settings_.url + " (" + reason + "); forwarding once it can");
}
