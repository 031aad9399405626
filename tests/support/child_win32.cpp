// Test support: child processes on Windows (CreateProcessA; works under Wine).
#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "support/child.h"

bool start_child(const std::string& name, const std::vector<std::string>& args, Child* child) {
  char self[MAX_PATH * 2];
  std::string line = "\"" + std::string(self, GetModuleFileNameA(nullptr, self, sizeof self)) + "\" --zarn-child " + name;
  for (const auto& a : args) line += " \"" + a + "\"";
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;  // this process's own, made inheritable
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  si.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  for (HANDLE h : {si.hStdInput, si.hStdOutput, si.hStdError}) {
    SetHandleInformation(h, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  }
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
    return false;
  }
  CloseHandle(pi.hThread);
  child->process = pi.hProcess;
  child->running = true;
  return true;
}

int wait_child(Child* child, int timeout_ms) {
  DWORD code = 0;
  if (!child->running || WaitForSingleObject(child->process, static_cast<DWORD>(timeout_ms)) != WAIT_OBJECT_0 ||
      !GetExitCodeProcess(child->process, &code)) {
    kill_child(child);
    return -1;
  }
  CloseHandle(child->process);
  child->running = false;
  return code == 0xFFFFFFFFu ? 255 : static_cast<int>(code);
}

void kill_child(Child* child) {
  if (!child->running) return;
  TerminateProcess(child->process, 1);
  WaitForSingleObject(child->process, INFINITE);
  CloseHandle(child->process);
  child->running = false;
}

#endif  // _WIN32
