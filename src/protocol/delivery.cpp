// The protocol file as a destination of messages: when its stream is opened
// for a message, what the message writes, and when the stream is closed again.
#include "fileio/fileio.h"
#include "protocol/protocol.h"

namespace {

void writeText(Stream* stream, const MessageText& text) {
  if (text.text) writeStream(text.text, 1, text.length, stream);
  else vprintStream(stream, text.format, text.args);
}

}  // namespace

ProtocolTurn beginProtocolTurn(ProtocolFile* file) {
  adoptProtocolRequest(file);
  Stream* const stream = openProtocolStream(file);
  if (stream) ++file->streamWriters;
  return ProtocolTurn{stream};
}

void deliverToProtocol(ProtocolFile* file, const ProtocolTurn& turn, const PreparedMessage& message, bool keepOpen) {
  if (!turn.stream) return;
  --file->streamWriters;
  if (message.headerDue) writeText(turn.stream, message.header);
  writeText(turn.stream, message.body);
  // A message that the host's callback emitted leaves open the stream of the
  // message around it, which writes its own text after the callback; a
  // stream that no such message holds it closes like any other message.
  if (!keepOpen && file->streamWriters == 0) putProtocolStreamAside(file);
  // An error reaches the file at once, so a host that crashes right after it
  // still leaves it there; the stream stays open.
  else if (message.isError) flushStream(turn.stream);
}
