/*
 * trovex: diagnostic messages for Windows programs.
 *
 * A host emits printf-style messages with category letters ('e' error,
 * 'w' warning, 'i' init) and an identifier; the library filters them, puts a
 * header "label<id>: " in front and delivers the text to the debug channel,
 * the protocol file and the host's callback. All strings are 8-bit text in the
 * Windows ANSI code page. Usable from C89 and C++.
 *
 *   #include <trovex.h>
 *
 *   static void TROVEX_CALL onText(const char* label, const char* id,
 *                                  const char* data, int length) { ... }
 *
 *   Trovex_Func_i(onText);
 *   Trovex_Printf("w", "NET", "retry %d of %d\n", 2, 5);
 */
#ifndef TROVEX_H
#define TROVEX_H

#include <stdarg.h>

#if defined(_WIN32)
#define TROVEX_CALL __cdecl
#if defined(TROVEX_BUILDING)
#define TROVEX_API __declspec(dllexport)
#else
#define TROVEX_API __declspec(dllimport)
#endif
#else
#define TROVEX_CALL
#if defined(TROVEX_BUILDING)
#define TROVEX_API __attribute__((visibility("default")))
#else
#define TROVEX_API
#endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Receives the text of every message while the callback destination is on.
 * One message gives, in order: at most one header call (label, id, NULL, 0)
 * with the bare label and identifier (either may be NULL); zero or more data
 * calls (NULL, NULL, data, length) with 1 to 96 bytes that are not
 * NUL-terminated; and one end call (NULL, NULL, NULL, 0). The pointers are
 * valid only during the call. It runs on the emitting thread while the
 * library's lock is held.
 */
typedef void(TROVEX_CALL* MessageCallback)(const char* label, const char* id, const char* data,
                                           int length);

/* Do nothing; for hosts that call them. The library is ready once loaded. */
TROVEX_API void TROVEX_CALL Trovex_Init(void);
TROVEX_API void TROVEX_CALL Trovex_Cleanup(void);

/* 1 for what = 1, 9 for what = 2, 0 otherwise. */
TROVEX_API int TROVEX_CALL Trovex_Info_i(int what);

/* Names the protocol file (NULL: none) and the mode of its first open ("w"
   by default; NULL or "" means "w"). Both return 1. */
TROVEX_API int TROVEX_CALL Trovex_Filename_s(const char* name);
TROVEX_API int TROVEX_CALL Trovex_FileOpenMode_s(const char* mode);

/* Copies the protocol file's name into buffer; with force set, settles the
   file's location first. 1 on success, 0 (and "") if it does not fit. */
TROVEX_API int TROVEX_CALL Trovex_ReadFilename_sii(char* buffer, int length, int force);

/* Copies the protocol file to destination, replacing it or, with append set,
   appending to it. 1 on success, 0 on failure. */
TROVEX_API int TROVEX_CALL Trovex_CopyFile_si(const char* destination, int append);

/* Category switches: store state (nonzero is on) and return the previous value. */
TROVEX_API int TROVEX_CALL Trovex_WarnState_i(int state);
TROVEX_API int TROVEX_CALL Trovex_ErrorState_i(int state);
TROVEX_API int TROVEX_CALL Trovex_InitState_i(int state);

/* Identifier pattern lists, separated by ";", with "*", "?" and [sets];
   case-insensitive. NULL empties a list. */
TROVEX_API void TROVEX_CALL Trovex_IncludeID_s(const char* patterns);
TROVEX_API void TROVEX_CALL Trovex_ExcludeID_s(const char* patterns);

/* type 1: debug channel, type 2: protocol file. 1 if type is known, else 0. */
TROVEX_API int TROVEX_CALL Trovex_EnableOutput_ii(int type, int on);

/* Registers the callback (NULL removes it). Returns 1. */
TROVEX_API int TROVEX_CALL Trovex_Func_i(MessageCallback fn);

/* Emit one message; type and id may be NULL. VPrintf closes the protocol
   file after the message, VCPrintf keeps it open. The result is nonzero
   when the library's lock was released normally. */
TROVEX_API int TROVEX_CALL Trovex_VPrintf_ssss(const char* type, const char* id,
                                               const char* format, va_list args);
TROVEX_API int TROVEX_CALL Trovex_VCPrintf_ssss(const char* type, const char* id,
                                                const char* format, va_list args);

/* A time stamp message, and the report on the machine. */
TROVEX_API int TROVEX_CALL Trovex_PrintTime_sss(const char* type, const char* id,
                                                const char* timeFormat);
TROVEX_API void TROVEX_CALL Trovex_PrintSystemInfo(void);

/* Variadic conveniences over the two va_list exports. */
#if defined(__cplusplus) || (defined(__STDC_VERSION__) && __STDC_VERSION__ >= 199901L)
#define TROVEX_INLINE static inline
#elif defined(__GNUC__) || defined(_MSC_VER)
#define TROVEX_INLINE static __inline
#else
#define TROVEX_INLINE static
#endif

TROVEX_INLINE int Trovex_Printf(const char* type, const char* id, const char* format, ...) {
  int result;
  va_list args;
  va_start(args, format);
  result = Trovex_VPrintf_ssss(type, id, format, args);
  va_end(args);
  return result;
}

TROVEX_INLINE int Trovex_CPrintf(const char* type, const char* id, const char* format, ...) {
  int result;
  va_list args;
  va_start(args, format);
  result = Trovex_VCPrintf_ssss(type, id, format, args);
  va_end(args);
  return result;
}

#ifdef __cplusplus
}
#endif

#endif /* TROVEX_H */
