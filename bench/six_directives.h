// The benchmarks' six-directive message: text, a grouped 64-bit number,
// hexadecimal with "#", a padded decimal, escaped text and a character, in
// the engine's format and in the closest standard one.
#pragma once

namespace trovex {

const char engineFormat[] = "%s: wrote %LU bytes to %#x, slot %5d, file %S, mode %c\n";
const char libcFormat[] = "%s: wrote %llu bytes to %#x, slot %5d, file %s, mode %c\n";
const char label[] = "protocol";
const unsigned long long bytes = 1234567890123ULL;
const unsigned address = 0x7ffe1234u;
const int slot = 42;
const char fileName[] = "c:\\tmp\\trovex.log";
const int mode = 'w';

// What each side stores: the engine groups the 64-bit number and escapes the
// backslashes of %S.
const char engineMessageText[] =
    "protocol: wrote 1.234.567.890.123 bytes to 0x7ffe1234, slot    42, file c:\\\\tmp\\\\trovex.log, mode w\n";
const char libcMessageText[] =
    "protocol: wrote 1234567890123 bytes to 0x7ffe1234, slot    42, file c:\\tmp\\trovex.log, mode w\n";

}  // namespace trovex
