// File helpers shared by the Windows side of the seam (windows.cpp, and
// windows_exit_files.cpp for the unload at process exit). Windows only.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#undef ReplaceFile

#include <atomic>
#include <string>
#include <string_view>

namespace tarveld::platform::windows_files {

// The error code of the last failed call, as the seam reports it.
int LastError();

// Writes all of `bytes` to `file`, in pieces a DWORD can count. False when a
// write fails or stores nothing (a full disk).
bool WriteAll(HANDLE file, std::string_view bytes);

// The name of a new file beside `path`, in the same directory: `path` with
// a suffix of this process's id and `serial`.
std::string SiblingName(const std::string& path, unsigned serial);

// Creates a new file beside `path`, in the same directory, with `access`,
// sharing only its deletion (so that an unload at exit can delete one that
// a thread it ended left behind), named by SiblingName with `serial`,
// which counts on with every name tried. CREATE_NEW settles a collision
// with a leftover of an earlier run that had the same process id.
// `announce`, when given, holds each name's serial + 1 before the name is
// tried. INVALID_HANDLE_VALUE, with the last error set, when none could be
// made.
HANDLE CreateSibling(const std::string& path, unsigned& serial, DWORD access, std::string& name,
                     std::atomic<unsigned>* announce = nullptr);

}  // namespace tarveld::platform::windows_files
