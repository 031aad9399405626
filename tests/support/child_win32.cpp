// Test support: child processes on Windows (CreateProcessA; works under Wine).
#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <thread>

#include "support/child.h"

namespace {

// One argument quoted for the runtime library's command-line parser.
std::string quote(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
  std::string out = "\"";
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') backslashes = backslashes * 2 + 1;
    out.append(backslashes, '\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, '\\');
  out += '"';
  return out;
}

std::string command_line(const std::vector<std::string>& argv) {
  std::string line;
  for (const auto& a : argv) {
    if (!line.empty()) line += ' ';
    line += quote(a);
  }
  return line;
}

int exit_status(HANDLE process) {
  DWORD code = 0;
  if (!GetExitCodeProcess(process, &code)) return -1;
  return code == 0xFFFFFFFFu ? 255 : static_cast<int>(code);
}

// This process's environment with `env` set, as a block for CreateProcessA.
std::string environment_block(const std::vector<std::pair<std::string, std::string>>& env) {
  std::string block;
  if (char* strings = GetEnvironmentStringsA()) {
    for (const char* p = strings; *p; p += strlen(p) + 1) {
      std::string entry = p;
      bool replaced = false;
      for (const auto& kv : env) {
        if (_strnicmp(entry.c_str(), (kv.first + "=").c_str(), kv.first.size() + 1) == 0) {
          replaced = true;
        }
      }
      if (!replaced) block.append(entry).push_back('\0');
    }
    FreeEnvironmentStringsA(strings);
  }
  for (const auto& kv : env) block.append(kv.first + "=" + kv.second).push_back('\0');
  block.push_back('\0');
  return block;
}

HANDLE inheritable(HANDLE h) {
  HANDLE dup = nullptr;
  if (h == nullptr || h == INVALID_HANDLE_VALUE) return nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), h, GetCurrentProcess(), &dup, 0, TRUE,
                       DUPLICATE_SAME_ACCESS)) {
    return nullptr;
  }
  return dup;
}

void close_if(HANDLE h) {
  if (h != nullptr && h != INVALID_HANDLE_VALUE) CloseHandle(h);
}

// Starts `line` with the given standard handles (inheritable copies).
bool spawn(std::string line, HANDLE in, HANDLE out, HANDLE err, std::string* env_block,
           HANDLE* process) {
  STARTUPINFOA si;
  ZeroMemory(&si, sizeof si);
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = in;
  si.hStdOutput = out;
  si.hStdError = err;
  PROCESS_INFORMATION pi;
  ZeroMemory(&pi, sizeof pi);
  BOOL ok = CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0,
                           env_block ? &(*env_block)[0] : nullptr, nullptr, &si, &pi);
  if (!ok) return false;
  CloseHandle(pi.hThread);
  *process = pi.hProcess;
  return true;
}

}  // namespace

std::string self_path() {
  char buf[MAX_PATH * 2];
  DWORD n = GetModuleFileNameA(nullptr, buf, sizeof buf);
  return std::string(buf, n);
}

bool start_child(const std::string& name, const std::vector<std::string>& args, Child* child) {
  std::vector<std::string> argv = {self_path(), "--zarn-child", name};
  argv.insert(argv.end(), args.begin(), args.end());
  HANDLE in = inheritable(GetStdHandle(STD_INPUT_HANDLE));
  HANDLE out = inheritable(GetStdHandle(STD_OUTPUT_HANDLE));
  HANDLE err = inheritable(GetStdHandle(STD_ERROR_HANDLE));
  HANDLE process = nullptr;
  bool ok = spawn(command_line(argv), in, out, err, nullptr, &process);
  close_if(in);
  close_if(out);
  close_if(err);
  if (!ok) return false;
  child->process = process;
  child->running = true;
  return true;
}

int wait_child(Child* child, int timeout_ms) {
  if (!child->running) return -1;
  if (WaitForSingleObject(child->process, static_cast<DWORD>(timeout_ms)) != WAIT_OBJECT_0) {
    return -1;
  }
  int status = exit_status(child->process);
  CloseHandle(child->process);
  child->process = nullptr;
  child->running = false;
  return status;
}

void kill_child(Child* child) {
  if (!child->running) return;
  TerminateProcess(child->process, 1);
  WaitForSingleObject(child->process, INFINITE);
  CloseHandle(child->process);
  child->process = nullptr;
  child->running = false;
}

ProcessResult run_process(const std::vector<std::string>& argv,
                          const std::vector<std::pair<std::string, std::string>>& env,
                          int timeout_ms) {
  ProcessResult result;
  SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
  HANDLE out_read = nullptr, out_write = nullptr, err_read = nullptr, err_write = nullptr;
  if (!CreatePipe(&out_read, &out_write, &sa, 0)) return result;
  if (!CreatePipe(&err_read, &err_write, &sa, 0)) {
    CloseHandle(out_read);
    CloseHandle(out_write);
    return result;
  }
  SetHandleInformation(out_read, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(err_read, HANDLE_FLAG_INHERIT, 0);
  HANDLE in = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                          OPEN_EXISTING, 0, nullptr);
  std::string block = environment_block(env);
  HANDLE process = nullptr;
  bool ok = spawn(command_line(argv), in, out_write, err_write, &block, &process);
  close_if(in);
  CloseHandle(out_write);
  CloseHandle(err_write);

  auto drain = [](HANDLE h, std::string* sink) {
    char buf[4096];
    DWORD got = 0;
    while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got > 0) sink->append(buf, got);
  };
  std::thread out_reader(drain, out_read, &result.out);
  std::thread err_reader(drain, err_read, &result.err);
  if (ok) {
    if (WaitForSingleObject(process, static_cast<DWORD>(timeout_ms)) == WAIT_OBJECT_0) {
      result.status = exit_status(process);
    } else {
      TerminateProcess(process, 1);
      WaitForSingleObject(process, INFINITE);
      result.status = -1;
    }
    CloseHandle(process);
  }
  out_reader.join();
  err_reader.join();
  CloseHandle(out_read);
  CloseHandle(err_read);
  return result;
}

#endif  // _WIN32
