// The host's callback as a destination: the header call, the text in chunks
// of at most 96 bytes, the end call.
#include "callback/callback.h"

#include "format/format.h"

namespace trovex {

namespace {

// Hosts are promised data calls of at most 96 bytes, and a body of exactly 96
// characters as one call: fixed by the callback contract, not tunable.
constexpr unsigned ChunkSize = 96;

void putData(void* callback, const char* text, unsigned count) {
  (*static_cast<MessageCallback*>(callback))(nullptr, nullptr, text, static_cast<int>(count));
}

}  // namespace

void deliverToCallback(MessageCallback callback, const char* label, const char* id, const MessageText& body) {
  // An empty label or id counts as none.
  if (label && !*label) label = nullptr;
  if (id && !*id) id = nullptr;
  if (label || id) callback(label, id, nullptr, 0);
  if (body.text) {
    handOutInPieces(body.text, body.length, ChunkSize, putData, &callback);
  } else {
    char piece[ChunkSize];
    formatInPieces(body.format, body.args, piece, ChunkSize, putData, &callback);
  }
  callback(nullptr, nullptr, nullptr, 0);
}

}  // namespace trovex
