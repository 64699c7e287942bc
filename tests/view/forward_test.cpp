// Forwarding: the collector's URL, syslog records field by field, the
// queue that the reading fills without waiting while no collector answers,
// and a collector that is away for a while, then back.
#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "forward/forward.h"
#include "forward/syslog.h"

namespace {

TEST(Forward, Urls) {
  const struct {
    const char* url;
    bool valid;
    Transport transport;
    const char* host;
    uint16_t port;
  } rows[] = {
      {"syslog+tcp://logs.example.net", true, Transport::Tcp, "logs.example.net", 601},
      {"syslog+udp://10.0.0.7", true, Transport::Udp, "10.0.0.7", 514},
      {"syslog+tcp://127.0.0.1:6514", true, Transport::Tcp, "127.0.0.1", 6514},
      {"syslog+udp://[::1]:1", true, Transport::Udp, "::1", 1},
      {"syslog+tcp://[fe80::1]", true, Transport::Tcp, "fe80::1", 601},
      {"syslog+tcp://host:65535", true, Transport::Tcp, "host", 65535},
      {"syslog+tcp://host:65536", false, Transport::Tcp, "", 0},
      {"syslog+tcp://host:0", false, Transport::Tcp, "", 0},
      {"syslog+tcp://host:", false, Transport::Tcp, "", 0},
      {"syslog+tcp://host:6x", false, Transport::Tcp, "", 0},
      {"syslog+tcp://host:-1", false, Transport::Tcp, "", 0},
      {"syslog+tcp://", false, Transport::Tcp, "", 0},
      {"syslog+tcp://:601", false, Transport::Tcp, "", 0},
      {"syslog+tcp://host/path", false, Transport::Tcp, "", 0},
      {"syslog+tcp://[::1", false, Transport::Tcp, "", 0},
      {"syslog+tcp://[::1]x", false, Transport::Tcp, "", 0},
      {"syslog://host", false, Transport::Tcp, "", 0},
      {"tcp://host:601", false, Transport::Tcp, "", 0},
      {"host:601", false, Transport::Tcp, "", 0},
  };
  for (const auto& row : rows) {
    ForwardTarget target;
    std::string error;
    ASSERT_EQ(parseForwardUrl(row.url, &target, &error), row.valid) << row.url;
    if (!row.valid) {
      EXPECT_NE(error.find(row.url), std::string::npos) << error;
      continue;
    }
    EXPECT_EQ(target.transport, row.transport) << row.url;
    EXPECT_EQ(target.host, row.host) << row.url;
    EXPECT_EQ(target.port, row.port) << row.url;
  }
  const struct {
    const char* name;
    int facility;
  } facilities[] = {{"kern", 0}, {"user", 1}, {"ftp", 11}, {"local0", 16}, {"local7", 23}, {"0", 0}, {"23", 23},
                    {"24", -1},  {"local8", -1}, {"USER", -1}, {"", -1}, {"1x", -1}, {"123", -1}};
  for (const auto& row : facilities) EXPECT_EQ(syslogFacility(row.name), row.facility) << row.name;
}

TEST(Forward, Timestamps) {
  const struct {
    int64_t milliseconds;
    int offset;
    const char* text;
  } rows[] = {
      {0, 0, "1970-01-01T00:00:00.000+00:00"},
      {-1, 0, "1969-12-31T23:59:59.999+00:00"},
      {1772355907042, 60, "2026-03-01T10:05:07.042+01:00"},
      {1709251199999, -210, "2024-02-29T20:29:59.999-03:30"},
      {951782400000, 330, "2000-02-29T05:30:00.000+05:30"},
  };
  for (const auto& row : rows) EXPECT_EQ(syslogTimestamp({row.milliseconds, row.offset}), row.text);
}

// Sets the process's time zone (a POSIX TZ value, which the Windows C
// runtime reads too) for the life of the object; the old one comes back.
class TimeZone {
 public:
  explicit TimeZone(const char* zone) {
    const char* old = std::getenv("TZ");
    if (old) old_ = old;
    hadOne_ = old != nullptr;
    set(zone);
  }
  ~TimeZone() { set(hadOne_ ? old_.c_str() : nullptr); }

 private:
  static void set(const char* zone) {
#if defined(_WIN32)
    _putenv_s("TZ", zone ? zone : "");
    _tzset();
#else
    if (zone) setenv("TZ", zone, 1);
    else unsetenv("TZ");
    tzset();
#endif
  }
  std::string old_;
  bool hadOne_ = false;
};

// The local time of an instant, east and west of UTC: the hour moves with
// the zone, and the offset carries the zone's sign.
TEST(Forward, TimestampsOfTheLocalZone) {
  const struct {
    const char* zone;
    int offset;
    const char* text;
  } rows[] = {
      {"TVX0", 0, "2026-03-01T09:05:07.042+00:00"},
      {"TVX-5:30", 330, "2026-03-01T14:35:07.042+05:30"},
      {"TVX3", -180, "2026-03-01T06:05:07.042-03:00"},
      {"TVX10", -600, "2026-02-28T23:05:07.042-10:00"},
  };
  const std::chrono::system_clock::time_point when{std::chrono::milliseconds(1772355907042)};
  for (const auto& row : rows) {
    TimeZone zone(row.zone);
    const SyslogTime time = syslogTimeOf(when);
    EXPECT_EQ(time.utcOffsetMinutes, row.offset) << row.zone;
    EXPECT_EQ(syslogTimestamp(time), row.text) << row.zone;
  }
}

constexpr char Bom[] = "\xEF\xBB\xBF";

TEST(Forward, RecordFields) {
  const SyslogTime time{1772355907042, 60};
  const std::string head = "1 2026-03-01T10:05:07.042+01:00 box ";
  const std::string id32(32, 'I'), id40(40, 'I'), id41 = id40 + "]";
  using Kind = Record::Kind;
  const struct {
    const char* name;
    Record record;
    std::string program;
    std::string procId;
    int facility;
    std::string expected;
  } rows[] = {
      {"a warning, lines joined by newlines", {Kind::Message, Category::Warn, "NET", "retry\n  second"}, "host.exe",
       "42", 1, "<12>" + head + "host.exe 42 NET - " + Bom + "retry\n  second"},
      {"error, another facility", {Kind::Message, Category::Error, "IO", "x"}, "h", "1", 16,
       "<131>" + head + "h 1 IO - " + Bom + "x"},
      {"init", {Kind::Message, Category::Init, "A", ""}, "h", "1", 1, "<14>" + head + "h 1 A - " + Bom},
      {"no category, an empty identifier, no program or process", {Kind::Message, Category::None, "", "t"}, "", "",
       1, "<13>" + head + "- - - - " + Bom + "t"},
      {"text outside any message", {Kind::Text, Category::Plain, "", "report"}, "f.txt", "", 1,
       "<13>" + head + "f.txt - - - " + Bom + "report"},
      {"an identifier of 32 is whole; text Windows-1252 as UTF-8", {Kind::Message, Category::Warn, id32, "M\xe4rz \x80"},
       "h", "1", 1, "<12>" + head + "h 1 " + id32 + " - " + Bom + "M\xc3\xa4rz \xe2\x82\xac"},
      {"one more is cut, and whole in the structured data", {Kind::Message, Category::Warn, id41, "x"}, "h", "1", 1,
       "<12>" + head + "h 1 " + id32 + " [trovex@32473 id=\"" + id40 + "\\]\"] " + Bom + "x"},
      {"spaces and non-ASCII in identifier and program; escapes", {Kind::Message, Category::Warn, "M\xe4rz \"q\\\"", "x"},
       "my h\xf6st.exe", "7", 1,
       "<12>" + head + "my_h_st.exe 7 M_rz_\"q\\\" [trovex@32473 id=\"M\xc3\xa4rz \\\"q\\\\\\\"\" program=\"my h\xc3\xb6st.exe\"] " +
           Bom + "x"},
      {"an identifier \"-\" is not the nil value", {Kind::Message, Category::Warn, "-", "x"}, "h", "1", 1,
       "<12>" + head + "h 1 - [trovex@32473 id=\"-\"] " + Bom + "x"},
      {"a later part of a message", {Kind::Message, Category::Init, "A", "more", nullptr, true}, "h", "1", 1,
       "<14>" + head + "h 1 A [trovex@32473 continued=\"true\"] " + Bom + "more"},
      {"a cut, with its marker", {Kind::Event, Category::Plain, "", "--- Trunced at Mo 01-M\xe4r ---", "cut"}, "p.txt",
       "", 1, "<13>" + head + "p.txt - - [trovex@32473 event=\"cut\"] " + Bom + "--- Trunced at Mo 01-M\xc3\xa4r ---"},
      {"a host gone", {Kind::Event, Category::Plain, "", "", "gone"}, "h", "9", 1,
       "<13>" + head + "h 9 - [trovex@32473 event=\"gone\"] " + Bom + "--- gone ---"},
  };
  for (const auto& row : rows)
    EXPECT_EQ(formatSyslog(row.record, row.facility, {"box", row.program, row.procId}, time), row.expected) << row.name;
}

TEST(Forward, DatagramsCutAtACharacterAndMarked) {
  const SyslogTime time{0, 0};
  const SyslogOrigin origin{"box", "h", "1"};
  Record record;
  record.kind = Record::Kind::Message;
  record.category = Category::Warn;
  record.id = "A";
  const std::string whole = formatSyslog(record, 1, origin, time);
  const size_t room = DatagramBytes - whole.size();
  const struct {
    size_t characters;
    char character;  // 'a' one byte in UTF-8, '\xe4' two
  } rows[] = {{room, 'a'}, {room + 1, 'a'}, {room / 2, '\xe4'}, {room, '\xe4'}, {room + 1, '\xe4'}, {3000, '\xe4'}};
  for (const auto& row : rows) {
    const size_t width = row.character == 'a' ? 1 : 2;
    const size_t bytes = width * row.characters;
    const std::string text(row.characters, row.character);
    record.text = text;
    const std::string sent = formatSyslog(record, 1, origin, time, DatagramBytes);
    const bool cut = bytes > room;
    EXPECT_LE(sent.size(), DatagramBytes) << bytes;
    EXPECT_EQ(sent.size() >= 6 && sent.compare(sent.size() - 6, 6, SyslogCutMark) == 0, cut) << bytes;
    const std::string body = sent.substr(whole.size(), sent.size() - whole.size() - (cut ? 6 : 0));
    EXPECT_EQ(body.size() % width, 0u) << "a character split: " << bytes;
    if (cut) EXPECT_GE(body.size() + width + 6, room) << "as much as fits: " << bytes;
    else EXPECT_EQ(body.size(), bytes) << "a record that fits, to the last byte, is whole";
  }
  // An identifier far longer than a datagram leaves room for the text.
  const std::string id(5000, 'I');
  record.id = id;
  record.text = "text";
  const std::string sent = formatSyslog(record, 1, origin, time, DatagramBytes);
  EXPECT_LE(sent.size(), DatagramBytes);
  EXPECT_NE(sent.find(std::string(Bom) + "text"), std::string::npos);
}

// No collector answers: the reading goes on at full speed, what the queue
// cannot hold is counted, and the end says what never left.
TEST(Forward, NoCollectorTheReadingNeverWaits) {
  ForwardSettings settings;
  std::string error;
  ASSERT_TRUE(parseForwardUrl("syslog+tcp://127.0.0.1:9", &settings.target, &error));
  settings.url = "syslog+tcp://127.0.0.1:9";
  int notices = 0;
  Forwarder forwarder(settings, [&](const std::string&) { ++notices; });
  const std::string text(100000, 'x');
  Record record;
  record.kind = Record::Kind::Message;
  record.text = text;
  const WriterTag writer{7, "h"};
  const int count = 500;  // some 50 MB, far more than the queue holds
  std::thread reader([&] {
    for (int i = 0; i < count; ++i) forwarder.take(record, &writer);
  });
  reader.join();
  const ForwardTotals totals = forwarder.finish();
  EXPECT_EQ(totals.sent, 0u);
  EXPECT_GT(totals.dropped, 0u);
  EXPECT_GT(totals.unsent, 0u);
  EXPECT_EQ(totals.dropped + totals.unsent, static_cast<uint64_t>(count));
  EXPECT_EQ(notices, 1) << "the collector's absence is said once";
}

#if defined(_WIN32)
using Socket = SOCKET;
constexpr Socket NoSocket = INVALID_SOCKET;
void closeSocket(Socket socket) { closesocket(socket); }
constexpr int ShutBoth = SD_BOTH;
#else
using Socket = int;
constexpr Socket NoSocket = -1;
void closeSocket(Socket socket) { close(socket); }
constexpr int ShutBoth = SHUT_RDWR;
#endif

// A syslog collector of the test's own over TCP on the loopback. Its port is
// bound from the start, so it stays the test's, but until start() it takes
// no connections: an attempt to reach it is refused, as when a collector is
// down. Then it reads one connection on a thread of its own.
class Collector {
 public:
  Collector() {
#if defined(_WIN32)
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
#endif
    server_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (server_ == NoSocket || bind(server_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        getsockname(server_, reinterpret_cast<sockaddr*>(&address), &size) != 0)
      ADD_FAILURE() << "no port for the collector";
    port_ = ntohs(address.sin_port);
  }
  ~Collector() {
    hangUp();
    if (reader_.joinable()) reader_.join();
#if defined(_WIN32)
    WSACleanup();
#endif
  }

  std::string url() const { return "syslog+tcp://127.0.0.1:" + std::to_string(port_); }

  void start() {
    ASSERT_EQ(listen(server_, 4), 0);
    reader_ = std::thread([this] {
      const Socket connection = accept(server_, nullptr, nullptr);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        connection_ = connection;
      }
      char buffer[65536];
      for (int got; connection != NoSocket && (got = recv(connection, buffer, sizeof buffer, 0)) > 0;) {
        std::lock_guard<std::mutex> lock(mutex_);
        bytes_.append(buffer, size_t(got));
        changed_.notify_all();
      }
      std::lock_guard<std::mutex> lock(mutex_);
      ended_ = true;
      changed_.notify_all();
    });
  }

  // The records that came so far, each without its octet count, once there
  // are at least `count` or the connection has ended (at most some seconds).
  std::vector<std::string> records(size_t count = SIZE_MAX) {
    std::unique_lock<std::mutex> lock(mutex_);
    std::vector<std::string> records;
    changed_.wait_for(lock, std::chrono::seconds(20), [&] { return ended_ || (records = parse()).size() >= count; });
    return parse();
  }

  // Down again: the connection ends, and the port takes no more.
  void hangUp() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (connection_ != NoSocket) shutdown(connection_, ShutBoth);
    if (server_ == NoSocket) return;
    shutdown(server_, ShutBoth);  // ends an accept that waits
    closeSocket(server_);
    server_ = NoSocket;
  }

 private:
  std::vector<std::string> parse() const {
    std::vector<std::string> records;
    for (size_t at = 0; at < bytes_.size();) {
      const size_t space = bytes_.find(' ', at);
      if (space == std::string::npos) break;
      const size_t length = std::stoul(bytes_.substr(at, space - at));
      if (space + 1 + length > bytes_.size()) break;
      records.push_back(bytes_.substr(space + 1, length));
      at = space + 1 + length;
    }
    return records;
  }

  Socket server_ = NoSocket;
  uint16_t port_ = 0;
  std::thread reader_;
  std::mutex mutex_;  // guards what follows, which the reader writes
  std::condition_variable changed_;
  Socket connection_ = NoSocket;
  std::string bytes_;
  bool ended_ = false;
};

Record message(const std::string& text) {
  Record record;
  record.kind = Record::Kind::Message;
  record.category = Category::Warn;
  record.id = "F";
  record.text = text;
  return record;
}

// The number a notice of drops gives, or 0 for any other record.
uint64_t droppedIn(const std::string& record) {
  const size_t at = record.find("--- ");
  if (at == std::string::npos || record.find(" dropped: ", at) == std::string::npos) return 0;
  return std::stoull(record.substr(at + 4));
}

// Records dropped while the collector was away, the last of them after the
// last record queued: the collector is told of them all the same.
TEST(Forward, DropsAtTheEndAreToldWhenTheCollectorIsBack) {
  Collector collector;
  ForwardSettings settings;
  settings.url = collector.url();
  std::string error;
  ASSERT_TRUE(parseForwardUrl(settings.url, &settings.target, &error)) << error;
  auto forwarder = std::make_unique<Forwarder>(settings, [](const std::string&) {});
  const WriterTag writer{7, "h"};
  const int count = 250;  // of 100 kB each: more than the queue and a batch taken from it hold
  for (int i = 0; i < count; ++i) {
    const std::string text = std::to_string(i) + " " + std::string(100000, 'x');
    forwarder->take(message(text), &writer);
  }
  collector.start();
  const ForwardTotals totals = forwarder->finish();
  forwarder.reset();  // the connection ends
  uint64_t messages = 0, notices = 0, told = 0;
  for (const std::string& record : collector.records()) {
    const uint64_t dropped = droppedIn(record);
    told += dropped;
    notices += dropped > 0 ? 1 : 0;
    messages += dropped > 0 ? 0 : 1;
  }
  EXPECT_GT(totals.dropped, 0u);
  EXPECT_EQ(totals.unsent, 0u);
  EXPECT_EQ(told, totals.dropped) << "every drop is told to the collector";
  EXPECT_EQ(messages + told, uint64_t(count));
  EXPECT_EQ(totals.sent, messages + notices);
}

// After a long outage the waits between attempts have grown to their last;
// once a record has gone through, the next outage starts again from the
// first wait.
TEST(Forward, TheWaitsStartAgainAfterARecordWentThrough) {
  Collector collector;
  ForwardSettings settings;
  settings.url = collector.url();
  std::string error;
  ASSERT_TRUE(parseForwardUrl(settings.url, &settings.target, &error)) << error;
  settings.firstRetryMilliseconds = 1;
  settings.lastRetryMilliseconds = 64;
  std::mutex mutex;
  std::condition_variable paused;
  std::vector<unsigned> pauses;
  settings.pausing = [&](unsigned milliseconds) {
    std::lock_guard<std::mutex> lock(mutex);
    pauses.push_back(milliseconds);
    paused.notify_all();
  };
  auto pausesWhen = [&](auto enough) {
    std::unique_lock<std::mutex> lock(mutex);
    paused.wait_for(lock, std::chrono::seconds(20), [&] { return enough(); });
    return pauses;
  };
  Forwarder forwarder(settings, [](const std::string&) {});
  const WriterTag writer{7, "h"};
  const std::string first = "first", second = "second";
  forwarder.take(message(first), &writer);
  const std::vector<unsigned> outage = pausesWhen([&] { return !pauses.empty() && pauses.back() == 64; });
  ASSERT_EQ(outage.back(), 64u) << "the waits grow to the last";
  EXPECT_EQ(outage.front(), 1u);
  collector.start();
  ASSERT_EQ(collector.records(1).size(), 1u);
  const size_t before = pausesWhen([] { return true; }).size();
  collector.hangUp();
  forwarder.take(message(second), &writer);
  const std::vector<unsigned> after = pausesWhen([&] { return pauses.size() > before; });
  ASSERT_GT(after.size(), before);
  EXPECT_EQ(after[before], 1u) << "the first wait of the second outage";
  const ForwardTotals totals = forwarder.finish();
  EXPECT_EQ(totals.sent, 1u);
  EXPECT_EQ(totals.unsent, 1u);
}

// A sending thread held inside a call that does not return (here the hook
// before a pause, where a name's resolution or a send would wait) is not
// waited for by a bounded finish: it says so. Once the call returns, the
// thread ends, and the Forwarder goes with it. A finish whose thread ends in
// time reports its counts.
TEST(Forward, ABoundedFinishLeavesASendingThreadThatDoesNotReturn) {
  ForwardSettings settings;
  settings.url = "syslog+tcp://127.0.0.1:9";
  std::string error;
  ASSERT_TRUE(parseForwardUrl(settings.url, &settings.target, &error)) << error;
  std::mutex mutex;
  std::condition_variable changed;
  bool inside = false, release = false;
  settings.pausing = [&](unsigned) {
    std::unique_lock<std::mutex> lock(mutex);
    inside = true;
    changed.notify_all();
    changed.wait(lock, [&] { return release; });
  };
  {
    Forwarder forwarder(settings, [](const std::string&) {});
    const WriterTag writer{7, "h"};
    forwarder.take(message("held"), &writer);
    {
      std::unique_lock<std::mutex> lock(mutex);
      ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(20), [&] { return inside; }));
    }
    EXPECT_TRUE(forwarder.finish(std::chrono::milliseconds(0)).cutShort);
    EXPECT_TRUE(forwarder.finish(std::chrono::milliseconds(0)).cutShort) << "asked again, it is still inside";
    std::lock_guard<std::mutex> lock(mutex);
    release = true;
    changed.notify_all();
  }  // the destructor waits for the released thread

  release = false;
  inside = false;
  settings.pausing = nullptr;
  Forwarder forwarder(settings, [](const std::string&) {});
  const WriterTag writer{7, "h"};
  forwarder.take(message("refused"), &writer);
  const ForwardTotals totals = forwarder.finish();
  EXPECT_FALSE(totals.cutShort) << "a refused connection returns";
  EXPECT_EQ(totals.sent + totals.unsent, 1u);
}

}  // namespace
