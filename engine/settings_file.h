// The channel settings in a file a Windows user edits in Notepad: an INI file, read and written
// through the Windows profile functions (GetPrivateProfileStringW, WritePrivateProfileStringW), one
// section per channel, "[Channel1]" to "[Channel8]", with the keys Name, Unit, Gain, Offset,
// HighHigh, High, Low, LowLow, Deadband, OnDelay (ms) and Latch (0 or 1). Numbers are written so
// that they read back to the same double, with '.' whatever the user's locale; a limit that is off
// is an empty value. A new file is created as UTF-16 with a byte-order mark, so that the profile
// functions keep any Unicode name or unit ("°C", "µm"); an ANSI file someone wrote is read too.
// Every key of every channel is written, also for a channel whose settings are the defaults, so that
// the file shows the user every key there is. A name or unit with blanks at either end, or quoted,
// is written between double quotes, which the profile functions take off again; a line break in one
// cannot be written. A number is written in the shortest of "%.15g" and "%.17g" that reads back to
// the same double; one is read in full ("1,5", "1x", "nan" and, but for a limit, "" are not
// numbers). OnDelay is a whole number of ms, and is read as any number that is whole.
// A relative path is taken from the current directory (not from the Windows folder, as the profile
// functions would take a bare file name), and messages name the full path.
//
// Loading is all or nothing: a file that is missing or unreadable, or that holds a value that does
// not parse or breaks a rule (engine/measurement_rules.h), changes nothing and says why in a
// sentence naming the file, the section and key, and the line of the file where the value stands.
// A key that is missing takes its default. Host's thread; the functions touch nothing but the file.
#pragma once

#include <windows.h>

#include <string>

#include "engine/measurement_rules.h"

namespace engine {

// Writes every channel's settings into path (created, or rewritten: keys of ours are replaced,
// other sections and keys are kept). On failure: the system's error, and *why says what failed;
// E_INVALIDARG, before anything is written, for a channel that breaks a rule (CheckRules) or a name
// or unit with a line break. A write that fails part way leaves the keys written before it.
[[nodiscard]] HRESULT SaveSettingsFile(const std::wstring& path, const ChannelSet& settings,
                                       std::wstring* why) noexcept;
// Reads path into *settings, only when the whole file is good. Failures: HRESULT_FROM_WIN32 of the
// system's error for a missing or unreadable file; E_INVALIDARG for a value that does not parse or
// breaks a rule; *why holds the sentence.
[[nodiscard]] HRESULT LoadSettingsFile(const std::wstring& path, ChannelSet* settings,
                                       std::wstring* why) noexcept;

}  // namespace engine
