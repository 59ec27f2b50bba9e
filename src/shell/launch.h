// Starting other programs and opening URLs: the one way the program starts anything. Every
// operation formats its command line into 1024 bytes, exports "comport"/"comportno", expands
// environment variables and starts the result.
//
// Results (all launch operations): the platform's error code when the process could not be
// started; otherwise its exit code when it was waited for and ended, 259 when the wait timed out
// (the child keeps running), 0 when it was not waited for.
#pragma once
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <memory>

#ifdef _WIN32
#include "common/unique_handle.h"
#endif

#if defined(__GNUC__)
#define VELMORA_PRINTF(fmt, first) __attribute__((format(printf, fmt, first)))
#else
#define VELMORA_PRINTF(fmt, first)
#endif

namespace velmora::shell {

inline constexpr std::size_t kCommandBufferSize = 1024;
inline constexpr uint32_t kWaitForever = 0xFFFFFFFFu;
inline constexpr uint32_t kStillActive = 259;
inline constexpr uint32_t kErrorInvalidParameter = 87;
inline constexpr uint32_t kErrorInsufficientBuffer = 122;
// The fallback command when the registry gives no usable browser command.
inline constexpr char kStartUrlCommand[] = "cmd /c start %s";
// Pattern of runCommandCaptured's temporary file, in the current directory.
inline constexpr char kCaptureFilePattern[] = "tmpXXXXXX";

// ---- Portable pieces (no operating-system calls) ---------------------------------------------

// Bounded formatting into the command buffer. Returns false when the text did not fit (the
// buffer then holds the cut text) or the format failed.
bool formatCommand(char (&buffer)[kCommandBufferSize], const char* format, va_list args);

// Values of "comport" and "comportno" for a port number: "COM7" and "7". False for 0 (the
// variables then keep whatever value they had).
bool comPortVariableValues(int portNumber, char (&comport)[16], char (&comportno)[16]);

// Length of the URL's scheme (the text before the first ':'); 0 when there is no ':' or it is
// the first character.
std::size_t urlSchemeLength(const char* url);

// True when the URL can be handed to a command line: no quote, no blank, no control character.
// A quote would end the template's quoting and pass the rest to the browser as options.
bool urlIsSafeForCommandLine(const char* url);

inline constexpr std::size_t kUrlTemplateSize = 256;
// Turns a registry "shell\open\command" value into a format with exactly one "%s" for the URL:
// - no '%' at all: " %s" is appended, when three more characters fit in 256 bytes;
// - the first '%' followed by '1': that '1' becomes 's', and no further '%' may follow.
// Anything else is not usable. Returns true and fills `out` when usable.
bool makeUrlTemplate(const char* registryValue, char (&out)[kUrlTemplateSize]);

// True when a usable template names "\chrome.exe": the browser is then started with the
// program's own token, not as the desktop user.
bool urlTemplateIsChrome(const char* urlTemplate);

// Escapes cmd.exe's operators (& | < > ^ ( )) with '^' so "cmd /c start %s" opens the URL and
// runs nothing else. False when the escaped text does not fit `size` bytes.
bool escapeForCmd(const char* url, char* out, std::size_t size);

// Line ends CR LF become LF (a lone CR stays). Works in place; returns the new length.
std::size_t crlfToLf(char* text, std::size_t length);

// ---- Windows ----------------------------------------------------------------------------------
#ifdef _WIN32

// Exports "comport" = "COM<n>" and "comportno" = "<n>" to the process environment when n is not
// 0. Runs before every launch with the number from the port number source.
void exportComPortVariables(int portNumber);

// Where the launch operations take the virtual COM port number from (the serial emulation's
// GetVirtualPortNumber). Program-wide; null (the default) means no port (0). The context is
// handed back to the function.
using ComPortNumberSource = int (*)(void* context);
void setComPortNumberSource(ComPortNumberSource source, void* context);

// A primary token of the interactive desktop user (the "PROGMAN" window's process), only when
// this program's integrity level is above medium; empty at medium or below and on any failure.
unique_handle desktopUserToken();

// Replaces desktopUserToken for runCommandAsDesktopUser (tests, machines without a desktop
// shell). Null restores the real one.
using DesktopTokenSource = unique_handle (*)();
void setDesktopTokenSource(DesktopTokenSource source);

// CreateProcessA with the program's own token, the token's default access list for the new
// process and thread (never one open to everyone: the child has this program's rights), no handle
// inheritance, the given creation flags, the program's environment and current directory.
// waitMs 0: not waited; kWaitForever: without limit.
uint32_t runCommand(uint32_t waitMs, uint32_t creationFlags, const char* format, ...)
    VELMORA_PRINTF(3, 4);
uint32_t runCommandV(uint32_t waitMs, uint32_t creationFlags, const char* format, va_list args);

// As the desktop user (CreateProcessWithTokenW, looked up in advapi32.dll, with the token of
// desktopUserToken); DETACHED_PROCESS is dropped from the flags. Without the function or without
// a token, runCommand with the formatted text.
uint32_t runCommandAsDesktopUser(uint32_t waitMs, uint32_t creationFlags, const char* format, ...)
    VELMORA_PRINTF(3, 4);
uint32_t runCommandAsDesktopUserV(uint32_t waitMs, uint32_t creationFlags, const char* format,
                                  va_list args);

// Runs "cmd /c \"<text>><tmpXXXXXX>\"" without a window and waits without limit. `output` gets
// the file's text with LF line ends, or stays empty (null) when the file is missing, empty or
// unreadable. The temporary file is deleted on every path.
uint32_t runCommandCaptured(std::unique_ptr<char[]>* output, const char* format, ...)
    VELMORA_PRINTF(2, 3);

// Opens the URL with the user's browser (UserChoice, then the scheme's open command; "cmd /c
// start %s" when neither is usable). 87 when the URL has no scheme or cannot be put on a command
// line safely; otherwise the launch's result.
uint32_t openUrl(const char* url);

#endif

} // namespace velmora::shell
