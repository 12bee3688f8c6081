// What the module's unload at a process exit writes with, made ready while
// the plug-in runs. Windows only.
//
// A process exit ends the plug-in's writer thread wherever it is. Under
// wine the thread is only marked, and may go on for a while inside a file
// call of its own; a new handle's file descriptor is handed to the process
// over one channel that, once the process is exiting, nobody locks, so an
// unload that opens a file then can take the descriptor meant for the
// dying thread, and wine's own assertion ends the process (docs/writer.md,
// "Exit"). A handle whose descriptor the process already holds needs no
// hand-over, and renames, deletes and closes through a handle hand none
// over either. So the unload's writes go through handles made, and used
// once, on the writer's thread beforehand:
//   - a new, empty file beside the report, which the unload fills with the
//     report's text and renames into place through its handle;
//   - a handle on the journal, to flush it.
#pragma once

#include <atomic>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "platform/windows_files.h"

namespace tarveld::platform {

class ExitFiles {
 public:
  // On the writer's thread: makes the replacement ready for the report at
  // `report` and the flush handle for the journal at `journal`, each unless
  // it is ready for that file already; an empty path leaves that one as it
  // is. What cannot be made ready is not, and the unload then opens files
  // as any write does. `serial` numbers the replacement's name.
  void Prepare(const std::string& report, const std::string& journal, unsigned& serial);

  // At the unload, once: ReplaceFile's and FlushFile's work through what
  // is ready. False, with `result` untouched, when nothing is ready for
  // `path`.
  bool Replace(const std::string& path, std::string_view bytes, IoResult& result);
  bool Flush(const std::string& path, IoResult& result);

  // On the writer's thread: CreateSibling for the writer's new report,
  // whose name the unload at exit knows from just before it is made until
  // WriterDone (it was renamed into place or deleted). A thread ended in
  // that span, even as the file's creation returns, leaves it behind.
  HANDLE CreateWritersFile(const std::string& path, unsigned& serial, DWORD access,
                           std::string& name);
  void WriterDone() { in_hand_.store(0); }

  // Closes both, deleting the replacement unless it became the report, and
  // deletes a new report the writer left half made (once the process is
  // gone, when the handle of the thread that was ended closes).
  void Release();

 private:
  // One handle and the file it serves. The handle is stored last, after
  // the rest, so that an unload that finds it finds the rest whole, even
  // when the thread making it was ended half way.
  struct Ready {
    std::atomic<HANDLE> handle{nullptr};
    std::string path;
    // Takes the handle when it serves `for_path`.
    HANDLE Take(const std::string& for_path);
  };

  void PrepareReport(const std::string& path, unsigned& serial);
  void PrepareJournal(const std::string& path);

  Ready report_;
  std::string temp_;                  // the replacement's own name
  std::vector<char> rename_to_path_;  // FILE_RENAME_INFO naming the report
  Ready journal_;
  // The writer's file in hand: its serial + 1 (0: none), beside
  // `in_hand_path_`, which changes only while none is in hand.
  std::atomic<unsigned> in_hand_{0};
  std::string in_hand_path_;
};

}  // namespace tarveld::platform
