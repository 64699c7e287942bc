// Syslog records (RFC 5424) of the viewer's records, for a collector.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "record/record.h"

// The structured data's identifier: a private name with the enterprise
// number that IANA reserves for documentation (RFC 5612); the project has
// none of its own. Its parameters: "id", the whole identifier when MSGID
// could not hold it; "program", the whole program name when APP-NAME could
// not; "event", what happened to the source; "continued" on a later part of
// a message. Collectors and readers rely on these names.
constexpr char SyslogSdId[] = "trovex@32473";

// Facilities by name (RFC 5424 table 1, with the usual names): "user" is 1.
// -1 for a name it does not know; a number from 0 to 23 is taken as it is.
int syslogFacility(std::string_view name);
constexpr int DefaultSyslogFacility = 1;

// The severity of a record: error 3, warning 4, init 6; a message without
// category, text outside any message and events 5 (notice).
int syslogSeverity(const Record& record);

// What a record carries besides the viewer's own record.
struct SyslogOrigin {
  std::string_view hostname;  // the machine's name
  std::string_view program;   // the host's program, or the source's name; empty: unknown
  std::string_view procId;    // the host's process id; empty: unknown
};

struct SyslogTime {
  int64_t unixMilliseconds;  // when the viewer received the record
  int utcOffsetMinutes;      // of the local time then
};

// The record's text, ready to send. maxBytes 0: whole; else (a datagram) it
// is cut to fit, at a character's boundary, and ends with SyslogCutMark.
std::string formatSyslog(const Record& record, int facility, const SyslogOrigin& origin, SyslogTime time,
                         size_t maxBytes = 0);
constexpr char SyslogCutMark[] = " [cut]";

// A moment as the timestamp shows it: in the local time of then.
SyslogTime syslogTimeOf(std::chrono::system_clock::time_point when);

// The timestamp field: local time with milliseconds and the UTC offset,
// "2026-03-01T09:05:07.042+01:00".
std::string syslogTimestamp(SyslogTime time);

// A notice record of the viewer itself (APP-NAME "trovex-view").
Record viewerNotice(std::string_view text);
constexpr char ViewerProgram[] = "trovex-view";
