// What tarveld-aar needs of the operating system beyond the platform seam
// (which reads and replaces its files): paths, error texts, the program's
// own folder and the player's browser. os_posix.cpp and os_windows.cpp
// implement it, one per target.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tarveld::aar {

// `name` inside `directory`, with the system's separator unless `directory`
// already ends in one; `name` alone for an empty directory.
std::string JoinPath(const std::string& directory, std::string_view name);

// True for an existing directory.
bool IsDirectory(const std::string& path);

// What a path names, links followed: nothing, a regular file, a folder, or
// anything else (a FIFO, a device, a socket).
enum class FileKind { kMissing, kRegular, kDirectory, kOther };

struct FileFacts {
  FileKind kind = FileKind::kMissing;
  std::uint64_t size = 0;  // bytes, for a regular file
};

FileFacts FactsOf(const std::string& path);

// True when both paths name one existing file: the same path spelled two
// ways, a link to the other, or a second hard link.
bool SameFile(const std::string& a, const std::string& b);

// The system's text for a raw error code as the platform seam returns it
// (errno, or GetLastError on Windows).
std::string SystemErrorText(int os_error);

// `path` made absolute, for the player to find the page; `path` itself when
// the system cannot tell.
std::string AbsolutePath(const std::string& path);

// Where to look when no folder is given and the current one holds neither
// file: on Windows the program's own folder, since a player starts it by a
// double-click in the game's folder; empty elsewhere, where programs live
// apart from their data.
std::string ProgramFolderFallback();

// True when the program was started on its own console window, as a
// double-click in Explorer does, so that the window closes as soon as the
// program ends. Always false on POSIX.
bool StartedOnOwnConsole();

// Waits for the player to press Enter, so a message stays on screen.
void WaitForEnter();

// Opens the file `path` in the default browser. False with `error` set
// when that cannot be started.
bool OpenInBrowser(const std::string& path, std::string& error);

}  // namespace tarveld::aar
