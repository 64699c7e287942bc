// The file layer: buffered streams over Win32 file handles, and path and file
// utilities by name. Bytes pass unchanged in both directions; failures are
// kept in the process-wide error state below and reported through results.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>

#include "platform/win32.h"

namespace trovex {

// ---- Streams ----

// State bits of Stream::flags.
enum StreamFlag : uint16_t {
  LineBuffered = 0x01,  // a character device: output is written at each newline
  Reading = 0x04,       // the buffer holds input read ahead from the file
  Writing = 0x08,       // the buffer holds output not yet written
  ReadFailed = 0x10,    // a read from the file failed (not its end); stays until close
  AtEnd = 0x20,         // a buffer fill read nothing; stays until close
  Failed = 0x40,        // a flush failed to write; stays until close
  OwnsBuffer = 0x80,    // the buffer was allocated with the stream and is freed with it
};

// Bytes of every stream's buffer. Fixed, not tunable: it decides when the
// file sees a write (one WriteFile per 8188 bytes of output) and which
// requests bypass the buffer, both of which callers and tests rely on.
constexpr uint32_t StreamBufferSize = 8188;
constexpr int StandardSlots = 3;             // slots 0 to 2: standard input, output, error
constexpr int SlotCount = 256;               // slots 3 to 255 hold files opened by name

// A buffered stream over one handle slot, from the process heap. Its owner
// uses it from one thread at a time. A line-buffered stream may also be
// flushed by another thread that reads from a console (output before input):
// both take its use lock, which fully buffered streams neither have nor need.
struct Stream {
  Stream* next;         // list of open line-buffered streams: the following entry, or null
  Stream* prev;         // that list: the preceding entry or the list head; null: not in it
  uint8_t* cur;         // next buffer position to read from or write to
  int32_t readAvail;    // bytes left in the buffer for reading
  int32_t writeAvail;   // room counter for putting bytes (see the put rule in stream.cpp)
  uint16_t flags;       // StreamFlag bits
  int16_t slot;         // handle slot of the stream's file
  uint8_t* buffer;      // start of the buffer
  uint32_t bufferSize;  // StreamBufferSize
  int32_t lineLimit;    // while writing: 0 fully buffered, -bufferSize line-buffered; else 0
  CRITICAL_SECTION* useLock;  // line-buffered: &useLockStorage, set at open; fully buffered: null
  Stream* flushNext;          // while a flush before a console read holds useLock: its next stream
  CRITICAL_SECTION useLockStorage;
};

// Opens the file `name` with a mode string: "r", "w" or "a", then optionally
// "b" (no effect), "s" (others may write the file too) and "+" (read and
// write), in that order. Returns the stream, or null with the error state set.
Stream* openStream(const char* name, const char* mode);
// True when openStream accepts the mode string (it may still fail to open).
bool streamModeAccepted(const char* mode);
// A stream over standard slot 0, 1 or 2; no file is opened. mode may be null.
Stream* openStandardStream(int slot, const char* mode);

// Flushes and closes a stream and frees it; 0, or -1 if the final flush
// failed. The handle is released and the memory freed in both cases.
int closeStream(Stream* stream);

// A record kept between the close of one file and the open of the next
// saves the heap two allocations and two frees per open (a file opened and
// closed per message). closeStreamFile is closeStream without the free: the
// record stays, closed, for reopenStream or freeStreamRecord.
int closeStreamFile(Stream* stream);
// openStream in a closed record, which starts as a new one would (position,
// error state and buffer cleared). With a null record it is openStream. On
// failure the record stays closed and the caller's.
Stream* reopenStream(Stream* record, const char* name, const char* mode);
// Frees a closed record.
void freeStreamRecord(Stream* record);
// Writes the buffered output; 0, or -1 (the stream is then Failed for good).
int flushStream(Stream* stream);

// Writes size * count bytes (modulo 2^32); returns the whole elements accepted.
uint32_t writeStream(const void* data, uint32_t size, uint32_t count, Stream* stream);
// Reads up to size * count bytes; returns the whole elements delivered. A
// read that fails (rather than meeting the end of the file) is recorded in
// the error state and leaves the stream ReadFailed, so a short count can be
// told apart from the end.
uint32_t readStream(void* data, uint32_t size, uint32_t count, Stream* stream);

// Formatted printing into a stream; returns the characters produced modulo
// 65536, whether or not they reached the file. With a null args the format is
// written as plain text.
uint16_t vprintStream(Stream* stream, const char* format, va_list* args);
uint16_t printStream(Stream* stream, const char* format, ...);

// Copies the rest of source into destination in 32,000-byte steps; returns
// the bytes copied, or -1 when memory is lacking, a read fails or a write
// falls short.
int32_t copyStream(Stream* source, Stream* destination);

// Sets up the layer's locks; the library's start-up calls it before any other
// file operation, and shutDownFileLayer deletes them after the last one.
void initFileLayer();
void shutDownFileLayer();

// The three standard streams over the process's standard handles, opened at
// load and closed at unload. A missing standard error writes to standard
// output. openStandardStreams returns 1, or 0 on failure.
int openStandardStreams();
void closeStandardStreams();
// The standard stream of slot 0, 1 or 2, or null while it is not open.
Stream* standardStream(int slot);

// ---- Error state ----

// The last failure of the file layer, process-wide: a small error number and
// the Windows error code it came from. Written by file operations only.
extern std::atomic<int32_t> errorNumber;
extern std::atomic<uint32_t> systemError;

// Error numbers of the file layer's own.
constexpr int32_t ErrorNotFound = 2;
constexpr int32_t ErrorNoMemory = 12;   // memory or a free slot is lacking
constexpr int32_t ErrorStreamState = 1; // a Failed (or, reading, AtEnd) stream was used
constexpr int32_t ErrorAccess = 13;
constexpr int32_t ErrorInvalidName = 22;
constexpr int32_t ErrorInvalidArgument = 22;  // a rejected mode string, a null name or mode (system error 87)
constexpr int32_t ErrorQuota = 69;
constexpr int32_t ErrorUnknown = 201;
constexpr int32_t ErrorWriteProtected = 202;
constexpr int32_t ErrorSharing = 203;

// Stores a Windows error code in systemError and its error number in errorNumber.
void recordSystemError(uint32_t code);
// recordSystemError with the calling thread's last Windows error.
void recordLastError();

// ---- Paths and files by name ----

// The library's attribute bits, mapped from and to the Windows attributes.
constexpr uint32_t AttrDirectory = 0x001;
constexpr uint32_t AttrArchive = 0x002;
constexpr uint32_t AttrCompressed = 0x004;
constexpr uint32_t AttrWritable = 0x010;  // set when the file is NOT read-only
constexpr uint32_t AttrHidden = 0x020;
constexpr uint32_t AttrOffline = 0x040;
constexpr uint32_t AttrSystem = 0x080;
constexpr uint32_t AttrTemporary = 0x100;
constexpr uint32_t AttrEncrypted = 0x200;

// Options of copyFile.
constexpr uint32_t CopyForceWritable = 1;  // an unopenable destination is made writable and tried once more
constexpr uint32_t CopyNoTime = 2;         // the destination keeps its own last-write time
constexpr uint32_t CopyAppend = 4;         // append to the destination instead of replacing it

constexpr uint32_t TempPathSize = 2048;  // characters of the process-wide temporary-path buffer

// The current directory into buffer (no trailing separator except for a
// root); 1, or 0 when it cannot be read or does not fit.
int currentDirectory(char* buffer, uint32_t size);
// The temporary directory, ending with a separator, into buffer, or with a
// null buffer into a process-wide one of TempPathSize characters. Returns the
// buffer used, or null when the path cannot be read or does not fit.
char* tempDirectory(char* buffer, uint32_t size);
// Joins name onto the path in directory, a buffer of `size` bytes: a
// separator goes between unless the directory ends with one, and a name that
// stands on its own (with a drive on Windows, absolute on POSIX) replaces the
// directory. 1, or 0 with directory unchanged when the result does not fit.
int joinPath(char* directory, const char* name, uint32_t size);

// How long an open waits for a file that another handle holds without
// sharing: such a holder (another host writing one message) has usually let
// go a moment later, and a message that took a fallback or was lost for it
// would be out of its place. Fixed by what hosts are promised, not tunable.
constexpr DWORD SharingWaitMilliseconds = 100;
// CreateFileA, tried again while it fails with a sharing violation, for up
// to SharingWaitMilliseconds. Every stream opened by name opens this way.
HANDLE createFileWaitingForShare(const char* name, DWORD access, DWORD shareMode, DWORD disposition,
                                 DWORD attributes);

// A file written by turns: hosts of this library that open it without
// sharing, for one message at a time, first wait for their turn at a named
// mutex derived from the file's name. Waiting at the mutex is fair where
// trying the open again is not: under load, a host that polls can lose
// every try for as long as it polls while the others take turns. An owner
// (the protocol file, the debug channel) keeps one record for the file it
// writes, and uses it under its own lock.
struct FileTurn {
  HANDLE mutex;      // the named mutex of the file nameKey names, or null
  uint64_t nameKey;  // nameKey() of that file's name
  unsigned holds;    // how often this owner has taken the turn and not yet ended it
};
// How long a host waits for its turn: far longer than any host holds a file
// for one message, even on a loaded machine. After that the open is tried
// anyway, and what it cannot write goes to a fallback or is counted. Fixed
// by what hosts are promised, not tunable.
constexpr DWORD TurnWaitMilliseconds = 5000;
// Waits for the turn at the file `name`. True when this call took it, which
// endFileTurn then ends; false when the name needs none (a pipe or a device,
// "\\.\..."), when the owner holds the turn of another file, or when the
// wait ran out or the mutex cannot be made: the caller goes on without.
bool takeFileTurn(FileTurn* turn, const char* name);
// Ends one take of the turn; nothing when none is held.
void endFileTurn(FileTurn* turn);
// Ends every take and closes the mutex (at unload).
void closeFileTurn(FileTurn* turn);

// A key of a file's name that two names share when compareNames takes them
// for the same file.
uint64_t nameKey(const char* name);

// FileAttr bits of a file, or -1.
int32_t fileAttributes(const char* name);
// Sets the bits of mask to their values in values; archive, writable, hidden,
// system and temporary can change. 1, or 0 on failure.
int setFileAttributes(const char* name, uint32_t mask, uint32_t values);
// 0, or -1 on failure.
int deleteFile(const char* name);
// The size of a disk file into *size; 1, or 0 with *size 0 (a missing file
// records no error).
int fileSize(const char* name, uint64_t* size);
// The last-write time in local 100-nanosecond ticks since 1601 into *time,
// without opening the file; 1, or 0 with *time 0.
int lastWriteTime(const char* name, uint64_t* time);
// Sets only the last-write time, given in local ticks; nonzero, or 0 on failure.
int setLastWriteTime(const char* name, uint64_t time);
// Compares two names as the platform's file system does: on Windows with
// letters folded to upper case by the Windows-1252 rule, elsewhere byte for
// byte; negative, 0 or positive. No path normalisation.
int compareNames(const char* first, const char* second);
// Copies the content of source to destination (CopyOption bits); the bytes
// copied, or -1. The error state names the failure, not a later close.
int32_t copyFile(const char* source, const char* destination, uint32_t options);

}  // namespace trovex
