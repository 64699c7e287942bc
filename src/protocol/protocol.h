// The protocol file: the host-named log file, its lazy open, its delivery of
// messages, its read-back and copy, and its size cap.
#pragma once

#include <atomic>
#include <cstdint>

#include "common/message.h"
#include "fileio/fileio.h"

namespace trovex {

struct Stream;

constexpr unsigned FileNameSize = 2048;  // bytes of a file name field
constexpr unsigned OpenModeSize = 32;    // bytes of openMode
// Bytes of tail a cut aims to keep; the viewer finds the cut point with it too.
constexpr uint32_t DefaultKeepSize = 1000000;
// The line that tells the protocol file's reader how many messages found the
// file unopenable (another program held it, say) since it last took one;
// before the next message it takes, or at unload on standard error.
constexpr char LostProtocolMessagesNotice[] = "--- %u messages lost: the protocol file could not be opened ---\n";

// Everything but the setters' fields is read and written under the message
// lock only (by messages, the read-back and the copy). The setters write
// `requested*` under the settings lock; a message takes them over at its start.
// The fields every message reads or writes come first and together, so a
// message after another thread's moves one cache line rather than several.
struct ProtocolFile {
  Stream* stream;                   // the open protocol stream, or null
  Stream* spareRecord;              // a closed stream record kept for the next reopen, or null
  uint32_t streamWriters;           // messages in progress (the lock's owner and the callback's
                                    // messages within) that will still write `stream`
  std::atomic<uint32_t> requestVersion;  // changes with every setter call
  uint32_t adoptedVersion;             // the request that fileName and openMode reflect
  uint32_t sizeLimit;               // bytes at which truncation is considered
  uint32_t keepSize;                // bytes of tail that truncation aims to keep
  uint8_t opened;                   // fileName has been opened once
  uint8_t truncatePending;          // the once-per-load size check is still due
  uint32_t lostMessages;            // messages the opened file could not take, not yet told
  FileTurn writeTurn;               // the turn at fileName among the hosts that share it

  char fileName[FileNameSize];      // the name in use; after the first open its full path; empty: none
  char resolvedPath[FileNameSize];  // work buffer for directory candidates
  char openMode[OpenModeSize];      // mode of the first open of a newly named file

  char requestedName[FileNameSize];    // as the host last set it
  char requestedMode[OpenModeSize];    // as the host last set it ("w" for null or "")
};

// The process-wide protocol file.
extern ProtocolFile protocolFile;

// Defaults: no name, mode "w", limits 5000000 and 1000000, truncation due.
void initProtocolFile(ProtocolFile* file);

// Setters behind the exports, under the settings lock: names are cut to fit,
// null or "" mode is "w". Each makes the next open a first open of the name.
void setFileName(ProtocolFile* file, const char* name);
void setOpenMode(ProtocolFile* file, const char* mode);
// Takes over the name and mode the setters stored last, if they changed.
void adoptProtocolRequest(ProtocolFile* file);

// What one message holds of the protocol file between its start and its
// delivery: the host's callback runs in between and may emit messages of its
// own on the same thread, which must not close the stream this message will
// still write. A turn counts itself among the stream's writers from its start
// until it ends, at its delivery or, failing that, at the end of its scope.
class ProtocolTurn {
 public:
  // Takes over the host's settings and obtains the stream, opening the file
  // if needed, in the file's turn among the hosts that share it (held until
  // the turn is delivered or destroyed). A null file: no turn (the
  // destination is off). A message that finds a file it had opened before
  // unopenable is counted as lost.
  explicit ProtocolTurn(ProtocolFile* file);
  ~ProtocolTurn();
  ProtocolTurn(const ProtocolTurn&) = delete;
  ProtocolTurn& operator=(const ProtocolTurn&) = delete;
  Stream* stream() const { return stream_; }
  // Gives the turn's place among the writers back; once.
  void end();
  // Ends the turn, then writes header and body to its stream. Then the
  // stream is closed unless the message keeps it open or a message around
  // this one will still write it; a stream left open gets an error message
  // flushed to the file at once.
  void deliver(const PreparedMessage& message, bool keepOpen);

 private:
  ProtocolFile* file_;  // the file the stream belongs to; null: no stream for this message
  Stream* stream_;      // the stream for this message, or null: no file for it
  bool counted_;        // among the stream's writers, until end
  FileTurn* fileTurn_;  // the turn at the file this message took, or null
};

// The held stream may close now: no message in progress will still write it.
inline bool streamMayClose(const ProtocolFile* file) { return file->streamWriters == 0; }

// The protocol stream, opened on demand; null when there is no file name or
// it cannot be opened.
Stream* openProtocolStream(ProtocolFile* file);
// Closes the protocol stream if one is open, and frees the record kept for
// reopening.
void closeProtocolStream(ProtocolFile* file);
// At unload: closes the stream, tells messages lost and not yet told on
// standard error, and closes the file's turn.
void closeProtocolFile(ProtocolFile* file);
// Closes the protocol stream after a message: its record is kept for the
// next message's reopen.
void putProtocolStreamAside(ProtocolFile* file);

// Settles the location of the current name when a setter has cleared it: a
// stream held for the name before is closed, and the file is opened and
// closed again, which creates it (or, with "w", empties it).
void settleProtocolFile(ProtocolFile* file);

// Once per load, before the first reopen: a file of sizeLimit bytes or more
// is rewritten as a marker line with the date and its tail from the last
// form feed that leaves at least keepSize - 1 bytes, when that tail is
// shorter than (keepSize + sizeLimit) / 2. Anything unexpected leaves the
// file as it is.
void truncateProtocolFile(ProtocolFile* file, const char* name);
// The offset of that form feed in text, or 0 when there is none.
uint32_t findCutPoint(const uint8_t* text, uint32_t size, uint32_t keepSize);

// Both under the message lock, which the caller holds:
// Copies the protocol file's name into buffer: 1, or 0 and "" if it does not
// fit. With force, the file's location is settled first.
int readFileName(ProtocolFile* file, char* buffer, int length, int force);
// Copies the protocol file to destination (appending with append): 1 or 0.
int copyProtocolFile(ProtocolFile* file, const char* destination, int append);

}  // namespace trovex
