// Holds a file open as a virus scanner, a backup agent or `type` does: for reading, sharing
// reading and writing but not deletion, so that no rename can replace or move the file
// meanwhile. Says "held" once it has the file, and lets go when its standard input ends.
//   kelvor-hold-file PATH
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: kelvor-hold-file PATH\n");
    return 2;
  }
  HANDLE file = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    fprintf(stderr, "cannot open %s\n", argv[1]);
    return 1;
  }
  printf("held\n");
  fflush(stdout);
  char line[64];
  while (fgets(line, sizeof line, stdin) != nullptr) {
  }
  CloseHandle(file);
  return 0;
}
