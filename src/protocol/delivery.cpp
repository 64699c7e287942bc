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

ProtocolTurn::ProtocolTurn(ProtocolFile* file)
    : file_(nullptr), stream_(nullptr), counted_(false), fileTurn_(nullptr) {
  if (!file) return;
  adoptProtocolRequest(file);
  // A stream already open is this host's alone; a file to open is waited for
  // in turn with the other hosts that write it one message at a time.
  if (!file->stream && file->fileName[0] && takeFileTurn(&file->writeTurn, file->fileName))
    fileTurn_ = &file->writeTurn;
  stream_ = openProtocolStream(file);
  if (!stream_) {
    if (file->opened) ++file->lostMessages;
    return;
  }
  file_ = file;
  counted_ = true;
  ++file->streamWriters;
}

ProtocolTurn::~ProtocolTurn() {
  end();
  if (fileTurn_) endFileTurn(fileTurn_);
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
  MessageText header = message.header;
  if (file_->lostMessages > 0) {
    // On a line of its own: a header that would open a new line opens it
    // before the notice instead.
    const bool lineOpen = message.headerDue && header.text && header.length > 0 && header.text[0] == '\n';
    if (lineOpen) {
      ++header.text;
      --header.length;
      writeStream("\n", 1, 1, stream_);
    }
    printStream(stream_, LostProtocolMessagesNotice, file_->lostMessages);
    file_->lostMessages = 0;
  }
  if (message.headerDue) writeText(stream_, header);
  writeText(stream_, message.body);
  // A message that the host's callback emitted leaves open the stream of the
  // message around it, which writes its own text after the callback; a
  // stream that no such message holds it closes like any other message.
  if (!keepOpen && streamMayClose(file_)) putProtocolStreamAside(file_);
  // An error reaches the file at once, so a host that crashes right after it
  // still leaves it there; the stream stays open.
  else if (message.isError) flushStream(stream_);
  if (fileTurn_) endFileTurn(fileTurn_);
  fileTurn_ = nullptr;
}

}  // namespace trovex
