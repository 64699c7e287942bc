// The channel on a named pipe: writes that wait no longer than the message
// may, the count of the messages the pipe could not take, and the notice of
// that count to the pipe's reader.
#include "debugchannel/device.h"

namespace trovex {

namespace {

// A line of the channel's own (a notice, an owed newline). True when the
// device took it whole; one that failed is opened again without it.
bool writeOwnLine(DebugChannel* channel, const char* bytes, DWORD count) {
  DWORD written = 0;
  if (writeOnce(channel, bytes, count, &written)) return !channel->pipe.messageLost;
  reopenDevice(channel);
  return false;
}

// The notice of `lost` messages, after a newline when a line is open.
constexpr unsigned LostNoticeSize = sizeof LostMessagesNotice + 12;
// A newline, and the count's at most ten digits in place of "%u".
static_assert(LostNoticeSize >= 1 + sizeof LostMessagesNotice - 1 - 2 + 10, "the longest notice fits");
unsigned composeLostNotice(uint32_t lost, bool lineOpen, char* notice) {
  unsigned length = 0;
  if (lineOpen) notice[length++] = '\n';
  char digits[10];
  unsigned digitCount = 0;
  for (uint32_t rest = lost; digitCount == 0 || rest > 0; rest /= 10) digits[digitCount++] = char('0' + rest % 10);
  for (const char* at = LostMessagesNotice; *at; ++at) {
    if (at[0] == '%' && at[1] == 'u') {
      while (digitCount > 0) notice[length++] = digits[--digitCount];
      ++at;
    } else {
      notice[length++] = *at;
    }
  }
  return length;
}

// Tells the pipe how many messages it lost, on a line of its own.
void tellLostMessages(DebugChannel* channel) {
  char notice[LostNoticeSize];
  const bool whole =
      writeOwnLine(channel, notice, composeLostNotice(channel->pipe.lostMessages, channel->pipe.lineOpen, notice));
  // A notice that the pipe took but for its newline has told the count: the
  // newline comes later, and telling the count again would count it twice.
  if (whole || channel->pipe.newlineOwed) channel->pipe.lostMessages = 0;
}

}  // namespace

void PipeLosses::endMessage() {
  if (messageLost && newlineOwed) {
    messageLost = false;  // delivered but for its newline, which the next message brings
  } else if (messageLost) {
    ++lostMessages;
    if (messageMayWait) {
      waitedInVain = true;
      waitedInVainTick = GetTickCount();
    }
    messageLost = false;
  }
}

// A pipe takes what it has room for at once; while it has none the message
// waits, up to PipeWaitMilliseconds from its start and only when it may wait
// at all. What the pipe did not take by then is not written: the message is
// lost, and the rest of it is dropped. False when the write failed.
bool writeToPipe(DebugChannel* channel, const char* bytes, DWORD count, DWORD* written) {
  TROVEX_ASSERT(channel->deviceIsPipe);
  TROVEX_ASSERT(channelLockTaken(channel));
  PipeLosses& pipe = channel->pipe;
  DWORD done = 0;
  for (;;) {
    DWORD taken = 0;
    if (!WriteFile(channel->deviceHandle, bytes + done, count - done, &taken, nullptr)) {
      *written = done;
      return false;
    }
    done += taken;
    if (done >= count) break;
    if (pipe.waitLeft(GetTickCount()) == 0) {
      pipe.messageLost = true;
      // All but the final newline: the reader has the text, and the line
      // is ended before the next message instead of counting a loss.
      pipe.newlineOwed = count - done == 1 && bytes[done] == '\n';
      break;
    }
    Sleep(1);
  }
  if (done > 0) pipe.lineOpen = bytes[done - 1] != '\n';
  *written = done;
  return true;
}

void catchUpPipe(DebugChannel* channel) {
  TROVEX_ASSERT(channel->messageDepth > 0);
  TROVEX_ASSERT(channelLockTaken(channel));
  if (!channel->deviceIsPipe) return;
  if (channel->pipe.newlineOwed) {
    channel->pipe.newlineOwed = false;
    writeOwnLine(channel, "\n", 1);
  }
  // The owed newline's write may have replaced the pipe.
  if (channel->pipe.lostMessages > 0 && channel->deviceIsPipe && !channel->pipe.messageLost) tellLostMessages(channel);
}

void reportLostMessages(DebugChannel* channel) {
  if (!channel->channelLockReady) return;
  EnterCriticalSection(&channel->channelLock);
  if (channel->pipe.lostMessages > 0) {
    channel->pipe.waitedInVain = false;  // the last word may wait as a message does
    channelBeginMessage(channel);
    const uint32_t unreported = channel->pipe.lostMessages;
    channel->pipe.messageLost = false;  // the notice is no message of the host's
    channelEndMessage(channel);
    HANDLE error = standardError();
    if (unreported > 0 && error) {
      char notice[LostNoticeSize];
      writeBytes(error, notice, composeLostNotice(unreported, false, notice));
    }
  }
  LeaveCriticalSection(&channel->channelLock);
}

}  // namespace trovex
