// Holds a file open with no sharing for another test process, as an editor
// or a second program with the report open would:
//
//   hold_file.exe PATH READY_EVENT RELEASE_EVENT
//
// Opens PATH for reading and writing with no sharing, signals the named
// event READY_EVENT, and closes the file once RELEASE_EVENT is signalled (or
// after two minutes). Exit status 0, or 1 when the file cannot be opened.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: hold_file.exe PATH READY_EVENT RELEASE_EVENT\n");
    return 2;
  }
  HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[2]);
  HANDLE release = OpenEventA(SYNCHRONIZE, FALSE, argv[3]);
  HANDLE file = CreateFileA(argv[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (ready == nullptr || release == nullptr || file == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "hold_file: cannot open %s (error %lu)\n", argv[1], GetLastError());
    return 1;
  }
  SetEvent(ready);
  WaitForSingleObject(release, 120000);
  CloseHandle(file);
  return 0;
}
