// Starts a program in a new process group, as `start /b` and some service wrappers do, and
// waits for it; the program inherits "ignore Ctrl-C" from that. Exits with its exit status.
//   kelvor-new-group PROGRAM [ARGUMENTS...]
#include <windows.h>

#include <cstdio>
#include <cstring>

int main() {
  // The command line after this program's own name, as it was given.
  const char* line = GetCommandLineA();
  bool quoted = *line == '"';
  for (line += quoted ? 1 : 0; *line != '\0' && (quoted ? *line != '"' : *line != ' '); ++line) {
  }
  if (*line == '"') ++line;
  while (*line == ' ') ++line;
  static char command[32768];
  snprintf(command, sizeof command, "%s", line);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, command, nullptr, nullptr, TRUE, CREATE_NEW_PROCESS_GROUP, nullptr,
                      nullptr, &startup, &process)) {
    fprintf(stderr, "kelvor-new-group: cannot start %s\n", command);
    return 2;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 2;
  GetExitCodeProcess(process.hProcess, &status);
  return static_cast<int>(status);
}
