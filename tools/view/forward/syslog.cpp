// RFC 5424 records: header fields in printable ASCII, structured data with
// its escapes, the message as UTF-8 after a byte order mark.
#include "forward/syslog.h"

#include <cassert>
#include <cstdio>

#include "record/encoding.h"
#include "platform/network.h"

namespace {

// The limits of RFC 5424's header fields, in bytes.
constexpr size_t HostnameBytes = 255;
constexpr size_t AppNameBytes = 48;
constexpr size_t ProcIdBytes = 128;
constexpr size_t MsgIdBytes = 32;
constexpr char NilValue[] = "-";
constexpr char Bom[] = "\xEF\xBB\xBF";
constexpr int NoticeSeverity = 5;

// Names of facilities 0 to 11; 16 to 23 are local0 to local7.
const char* const FacilityNames[] = {"kern", "user", "mail", "daemon", "auth", "syslog",
                                     "lpr",  "news", "uucp", "cron",   "authpriv", "ftp"};
constexpr int LocalFacilities = 16;
constexpr int FacilityCount = 24;

// Appends a header field: printable ASCII only (anything else becomes "_"),
// cut to `limit`, or "-" when empty. True when the field holds the value
// as it is.
bool appendField(std::string* out, std::string_view value, size_t limit) {
  if (value.empty()) {
    out->append(NilValue);
    return true;
  }
  bool whole = value.size() <= limit && value != NilValue;
  for (size_t i = 0; i < value.size() && i < limit; ++i) {
    const unsigned char c = static_cast<unsigned char>(value[i]);
    const bool printable = c >= 33 && c <= 126;
    out->push_back(printable ? static_cast<char>(c) : '_');
    whole = whole && printable;
  }
  return whole;
}

// Length of text cut to at most `limit` bytes without splitting a UTF-8 character.
size_t utf8Cut(std::string_view text, size_t limit) {
  if (text.size() <= limit) return text.size();
  while (limit > 0 && (static_cast<unsigned char>(text[limit]) & 0xC0) == 0x80) --limit;
  return limit;
}

// A parameter of the structured data: Windows-1252 text as UTF-8, with the
// three characters RFC 5424 escapes; cut to `limit` bytes of UTF-8.
void appendParam(std::string* out, const char* name, std::string_view value, size_t limit) {
  std::string utf8;
  windows1252ToUtf8(value, &utf8);
  utf8.resize(utf8Cut(utf8, limit));
  out->append(" ").append(name).append("=\"");
  for (char c : utf8) {
    if (c == '"' || c == '\\' || c == ']') out->push_back('\\');
    out->push_back(c);
  }
  out->push_back('"');
}

// Days since 1970-01-01 to a civil date (proleptic Gregorian).
void civilFromDays(int64_t days, int* year, unsigned* month, unsigned* day) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const unsigned dayOfEra = static_cast<unsigned>(days - era * 146097);
  const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const unsigned monthIndex = (5 * dayOfYear + 2) / 153;
  *day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
  *month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
  *year = static_cast<int>(static_cast<int64_t>(yearOfEra) + era * 400 + (*month <= 2));
}

int64_t floorDiv(int64_t a, int64_t b) { return a / b - (a % b != 0 && (a < 0) != (b < 0)); }

}  // namespace

int syslogFacility(std::string_view name) {
  for (int i = 0; i < static_cast<int>(sizeof FacilityNames / sizeof FacilityNames[0]); ++i)
    if (name == FacilityNames[i]) return i;
  if (name.size() == 6 && name.substr(0, 5) == "local" && name[5] >= '0' && name[5] <= '7')
    return LocalFacilities + (name[5] - '0');
  if (name.empty() || name.size() > 2) return -1;
  int number = 0;
  for (char c : name) {
    if (c < '0' || c > '9') return -1;
    number = number * 10 + (c - '0');
  }
  return number < FacilityCount ? number : -1;
}

int syslogSeverity(const Record& record) {
  if (record.kind != Record::Kind::Message) return NoticeSeverity;
  switch (record.category) {
    case Category::Error: return 3;
    case Category::Warn: return 4;
    case Category::Init: return 6;
    default: return NoticeSeverity;
  }
}

SyslogTime syslogTimeOf(std::chrono::system_clock::time_point when) {
  const auto sinceEpoch = when.time_since_epoch();
  const int64_t milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch).count();
  const int64_t seconds = floorDiv(milliseconds, 1000);
  return {milliseconds, utcOffsetMinutes(static_cast<std::time_t>(seconds))};
}

std::string syslogTimestamp(SyslogTime time) {
  const int64_t local = time.unixMilliseconds + int64_t{time.utcOffsetMinutes} * 60000;
  const int64_t days = floorDiv(local, 86400000);
  const int64_t inDay = local - days * 86400000;
  int year;
  unsigned month, day;
  civilFromDays(days, &year, &month, &day);
  const int offset = time.utcOffsetMinutes < 0 ? -time.utcOffsetMinutes : time.utcOffsetMinutes;
  char text[96];  // room for any int, though a year has four digits
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03d%c%02d:%02d", year, month, day,
                static_cast<int>(inDay / 3600000), static_cast<int>(inDay / 60000 % 60),
                static_cast<int>(inDay / 1000 % 60), static_cast<int>(inDay % 1000),
                time.utcOffsetMinutes < 0 ? '-' : '+', offset / 60, offset % 60);
  return text;
}

std::string formatSyslog(const Record& record, int facility, const SyslogOrigin& origin, SyslogTime time,
                         size_t maxBytes) {
  std::string out = "<" + std::to_string(facility * 8 + syslogSeverity(record)) + ">1 ";
  out.append(syslogTimestamp(time)).push_back(' ');
  appendField(&out, origin.hostname, HostnameBytes);
  out.push_back(' ');
  const bool programWhole = appendField(&out, origin.program, AppNameBytes);
  out.push_back(' ');
  appendField(&out, origin.procId, ProcIdBytes);
  out.push_back(' ');
  const bool idWhole = appendField(&out, record.id, MsgIdBytes);
  out.push_back(' ');

  // In a datagram, each parameter takes at most a quarter of it, so that
  // the header always leaves room for some of the text.
  const size_t paramLimit = maxBytes ? maxBytes / 4 : std::string::npos;
  std::string params;
  if (!idWhole) appendParam(&params, "id", record.id, paramLimit);
  if (!programWhole) appendParam(&params, "program", origin.program, paramLimit);
  if (record.event) appendParam(&params, "event", record.event, paramLimit);
  if (record.continued) appendParam(&params, "continued", "true", paramLimit);
  if (params.empty()) out.append(NilValue);
  else out.append("[").append(SyslogSdId).append(params).append("]");

  out.append(" ").append(Bom);
  if (record.kind == Record::Kind::Event && record.text.empty())
    out.append("--- ").append(record.event).append(" ---");
  else
    windows1252ToUtf8(record.text, &out);

  if (maxBytes && out.size() > maxBytes) {
    const size_t markBytes = sizeof SyslogCutMark - 1;
    assert(maxBytes > markBytes);
    out.resize(utf8Cut(out, maxBytes - markBytes));
    out.append(SyslogCutMark);
  }
  return out;
}

Record viewerNotice(std::string_view text) {
  Record record;
  record.kind = Record::Kind::Text;
  record.text = text;
  record.received = std::chrono::system_clock::now();
  return record;
}
