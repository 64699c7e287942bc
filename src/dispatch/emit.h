// Message emission: one message, filtered, with its header, to the debug
// channel, the host's callback and the protocol file, in that order.
#pragma once

#include <cstdarg>

#include "protocol/protocol.h"

// Emits one message. typeLetters and id may be null; a null format is empty
// text; with a null args the format is delivered as plain text. keepOpen
// leaves the protocol file open after the message. Returns the outcome of
// releasing the context's mutex: nonzero on success, 0 on failure or when
// there is no mutex.
int emitMessage(OutputContext* context, const char* typeLetters, const char* id,
                const char* format, va_list* args, bool keepOpen);

// The same with variable arguments, keeping the protocol file open or closing it.
int printKeepOpen(OutputContext* context, const char* typeLetters, const char* id,
                  const char* format, ...);
int printAndClose(OutputContext* context, const char* typeLetters, const char* id,
                  const char* format, ...);

// The callback destination of one message: the header call, the text in
// chunks of at most 96 bytes, the end call.
void deliverToCallback(MessageCallback callback, const char* label, const char* id,
                       const char* format, va_list* args);
// The same for a text already produced.
void deliverTextToCallback(MessageCallback callback, const char* label, const char* id, const char* text,
                           unsigned count);
