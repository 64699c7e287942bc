// The protocol file as a destination of messages: when its stream is opened
// for a message, what the message writes, and when the stream is closed again.
#include "common/contract.h"
#include "fileio/fileio.h"
#include "protocol/protocol.h"

namespace trovex {

namespace {

void writeText(Stream* stream, const MessageText& text) {
  if (text.text) writeStream(text.text, 1, text.length, stream);
  else vprintStream(stream, text.format, text.args);
}

}  // namespace

ProtocolTurn::ProtocolTurn(ProtocolFile* file) : file_(nullptr), stream_(nullptr), counted_(false) {
  if (!file) return;
  adoptProtocolRequest(file);
  stream_ = openProtocolStream(file);
  if (!stream_) return;
  file_ = file;
  counted_ = true;
  ++file->streamWriters;
}

void ProtocolTurn::end() {
  if (!counted_) return;
  TROVEX_ASSERT(file_->streamWriters > 0);
  --file_->streamWriters;
  counted_ = false;
}

void ProtocolTurn::deliver(const PreparedMessage& message, bool keepOpen) {
  if (!stream_) return;
  end();
  if (message.headerDue) writeText(stream_, message.header);
  writeText(stream_, message.body);
  // A message that the host's callback emitted leaves open the stream of the
  // message around it, which writes its own text after the callback; a
  // stream that no such message holds it closes like any other message.
  if (!keepOpen && streamMayClose(file_)) putProtocolStreamAside(file_);
  // An error reaches the file at once, so a host that crashes right after it
  // still leaves it there; the stream stays open.
  else if (message.isError) flushStream(stream_);
}

}  // namespace trovex
