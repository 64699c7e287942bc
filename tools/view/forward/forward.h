// --forward: the viewer's records to a syslog collector (RFC 5424), over TCP
// with octet counting (RFC 6587) or over UDP, one record per datagram (RFC
// 5426). A thread of its own sends them; the reading only queues them, and
// never waits for the collector.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/network.h"
#include "listen/queue.h"
#include "record/record.h"

struct ForwardTarget {
  Transport transport = Transport::Tcp;
  std::string host;   // a name or an address, without the brackets of IPv6
  uint16_t port = 0;
};
constexpr uint16_t DefaultTcpPort = 601;  // syslog over TCP (RFC 6587)
constexpr uint16_t DefaultUdpPort = 514;  // syslog over UDP (RFC 5426)

// Reads "syslog+tcp://HOST[:PORT]" or "syslog+udp://HOST[:PORT]" (HOST may
// be "[IPv6]"); false, with the reason in `error`, for anything else.
bool parseForwardUrl(const std::string& url, ForwardTarget* target, std::string* error);

// Bytes of a datagram's record at most: what every receiver takes (RFC 5426
// section 3.2); a longer record is cut to fit. Fixed: receivers rely on it.
constexpr size_t DatagramBytes = 2048;
// Bytes of records the queue holds while the collector is slow or away:
// some seconds of many busy hosts. What does not fit is dropped and counted.
constexpr size_t ForwardQueueBytes = size_t{8} << 20;

struct ForwardSettings {
  ForwardTarget target;
  std::string url;         // as given, for notices
  int facility = 1;        // user
  std::string sourceName;  // APP-NAME of records without a writer (a file's name); empty: unknown
  // Waits between attempts to reach the collector: doubling from the first
  // to the last, and from the first again once a record has gone through.
  unsigned firstRetryMilliseconds = 250;
  unsigned lastRetryMilliseconds = 4000;
  // Told of each such wait before it, on the sending thread (tests); the
  // end may cut the wait short.
  std::function<void(unsigned milliseconds)> pausing;
};

// What forwarding did, at its end.
struct ForwardTotals {
  uint64_t sent = 0;       // records sent (notices of drops included)
  uint64_t dropped = 0;    // records the queue could not hold
  uint64_t unsent = 0;     // records queued and never sent
  // The sending thread was still inside a call to the network (a name being
  // resolved, a connection or a send that waits) when the end's time was up:
  // it is left to that call, and the counts above are not known.
  bool cutShort = false;
};

class Forwarder : public RecordSink {
 public:
  // notice: tells the reader (standard error) what became of the collector;
  // called on the sending thread.
  using Notice = std::function<void(const std::string&)>;
  Forwarder(ForwardSettings settings, Notice notice);
  ~Forwarder() override;
  Forwarder(const Forwarder&) = delete;
  Forwarder& operator=(const Forwarder&) = delete;

  // Queues a copy of the record, or counts it dropped when the queue is full.
  void take(const Record& record, const WriterTag* writer) override;
  // Sends what is queued while the collector takes it, for `limit` at most,
  // one more attempt to reach it included; then stops. A call to the network
  // that the sending thread is inside then gets EndGraceMilliseconds more;
  // one that still waits is not waited for (cutShort), and the Forwarder is
  // then kept to the process's end: destroying it waits for that call.
  ForwardTotals finish(std::chrono::milliseconds limit = std::chrono::milliseconds(FinishMilliseconds));

  static constexpr unsigned FinishMilliseconds = 5000;
  static constexpr unsigned EndGraceMilliseconds = 100;

 private:
  // A record as it waits in the queue: the record with copies of what it
  // points to (sent() points it at them), and its writer's program and
  // process id.
  struct Queued {
    Record record;
    std::string id;
    std::string text;
    std::string program;
    std::string procId;
    size_t bytes() const;
    Record sent() const;
  };
  using Entry = BoundedQueue<Queued>::Entry;

  void run();
  // Takes the next records, and counts the drops among them.
  bool takeBatch(std::vector<Entry>* batch, std::chrono::milliseconds wait);
  bool deliver(Entry* entry);
  bool sendRecord(const Record& record, const std::string& program, const std::string& procId);
  void lost(const std::string& reason);
  // The end has come, and the time it gives is up.
  bool timeUp();

  const ForwardSettings settings_;
  const Notice notice_;
  const std::string hostname_;
  const std::string ownProcId_;
  // Between the reading and the sending thread. The sending thread takes
  // its records in batches, and takes the next only when it has sent the
  // last: while the collector is away the batch it holds and the records
  // waiting together stay within the queue's bound.
  BoundedQueue<Queued> queue_{ForwardQueueBytes};

  std::mutex mutex_;                 // guards stopping_, deadline_ and sendingEnded_
  std::condition_variable stopped_;  // ends a pause between attempts
  std::condition_variable ended_;    // the sending thread has ended
  bool stopping_ = false;
  bool sendingEnded_ = false;
  std::chrono::steady_clock::time_point deadline_;
  std::thread thread_;

  // The sending thread's own, read by finish() after it has ended.
  std::unique_ptr<Connection> connection_;
  bool down_ = false;                // the collector cannot be reached; said once
  bool reachedOnce_ = false;
  ForwardTotals totals_;
};
