// The one header for operating-system calls.
//
// Every module of the tool calls the Win32 names below and sees Windows
// types, constants and error numbers on every platform.  On Windows this is
// <windows.h> itself.  Elsewhere it declares the small subset the tool uses;
// src/platform/posix implements it with the Windows behaviour the checks
// depend on (share modes between hosts, handle-owned one-byte locks, waiting
// lock requests, console control handlers).  Nothing else belongs here.
#ifndef ZARN_PLATFORM_WIN32_H
#define ZARN_PLATFORM_WIN32_H

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <stdlib.h>  // _splitpath_s

#else  // POSIX

#include <pthread.h>
#include <stddef.h>
#include <stdint.h>

typedef int BOOL;
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef int64_t LONGLONG;
typedef uintptr_t ULONG_PTR;
typedef size_t SIZE_T;
typedef DWORD LCID;
typedef void* HANDLE;
typedef void* HLOCAL;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef DWORD* LPDWORD;
typedef LONG* PLONG;
typedef int errno_t;

#define WINAPI
#define TRUE 1
#define FALSE 0
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)

typedef union _LARGE_INTEGER {
  struct {
    DWORD LowPart;
    LONG HighPart;
  } u;
  LONGLONG QuadPart;
} LARGE_INTEGER, *PLARGE_INTEGER;

typedef struct _OVERLAPPED {
  ULONG_PTR Internal;      // status: STATUS_PENDING while the request runs, then its NTSTATUS
  ULONG_PTR InternalHigh;  // bytes transferred
  DWORD Offset;
  DWORD OffsetHigh;
  HANDLE hEvent;
} OVERLAPPED, *LPOVERLAPPED;

typedef struct _SECURITY_DESCRIPTOR {
  BYTE Revision;
  BYTE DaclPresent;
  BYTE DaclDefaulted;
  void* Dacl;
} SECURITY_DESCRIPTOR;
typedef void* PSECURITY_DESCRIPTOR;
typedef void* PACL;

typedef struct _SECURITY_ATTRIBUTES {
  DWORD nLength;
  LPVOID lpSecurityDescriptor;
  BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

// Recursive, as on Windows.
typedef struct _CRITICAL_SECTION {
  pthread_mutex_t mutex;
} CRITICAL_SECTION, *LPCRITICAL_SECTION;

typedef DWORD(WINAPI* LPTHREAD_START_ROUTINE)(LPVOID);
typedef BOOL(WINAPI* PHANDLER_ROUTINE)(DWORD);
typedef void(WINAPI* PTIMERAPCROUTINE)(LPVOID, DWORD, DWORD);

typedef enum _COMPUTER_NAME_FORMAT {
  ComputerNameNetBIOS = 0,
  ComputerNameDnsHostname = 1,
  ComputerNameDnsDomain = 2,
  ComputerNameDnsFullyQualified = 3,
  ComputerNamePhysicalNetBIOS = 4,
  ComputerNamePhysicalDnsHostname = 5,
  ComputerNamePhysicalDnsDomain = 6,
  ComputerNamePhysicalDnsFullyQualified = 7
} COMPUTER_NAME_FORMAT;

// Access rights, sharing, dispositions, attributes, flags.
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define DELETE 0x00010000u
#define FILE_SHARE_READ 0x1u
#define FILE_SHARE_WRITE 0x2u
#define FILE_SHARE_DELETE 0x4u
#define CREATE_NEW 1u
#define CREATE_ALWAYS 2u
#define OPEN_EXISTING 3u
#define OPEN_ALWAYS 4u
#define TRUNCATE_EXISTING 5u
#define FILE_ATTRIBUTE_READONLY 0x1u
#define FILE_ATTRIBUTE_DIRECTORY 0x10u
#define FILE_ATTRIBUTE_NORMAL 0x80u
#define INVALID_FILE_ATTRIBUTES ((DWORD)-1)
#define FILE_FLAG_OVERLAPPED 0x40000000u
// Here: never through a symbolic link at the name, and nothing but a
// regular file opened (a link, FIFO, socket or device: ERROR_ACCESS_DENIED).
// Windows opens the link itself instead, which the caller then refuses.
#define FILE_FLAG_OPEN_REPARSE_POINT 0x00200000u
#define FILE_BEGIN 0u
#define FILE_CURRENT 1u
#define FILE_END 2u
#define INVALID_SET_FILE_POINTER ((DWORD)-1)
#define LOCKFILE_FAIL_IMMEDIATELY 0x1u
#define LOCKFILE_EXCLUSIVE_LOCK 0x2u
#define MOVEFILE_REPLACE_EXISTING 0x1u

// Error numbers (GetLastError).
#define ERROR_SUCCESS 0u
#define NO_ERROR 0u
#define ERROR_INVALID_FUNCTION 1u
#define ERROR_FILE_NOT_FOUND 2u
#define ERROR_PATH_NOT_FOUND 3u
#define ERROR_TOO_MANY_OPEN_FILES 4u
#define ERROR_ACCESS_DENIED 5u
#define ERROR_INVALID_HANDLE 6u
#define ERROR_NOT_ENOUGH_MEMORY 8u
#define ERROR_OUTOFMEMORY 14u
#define ERROR_WRITE_PROTECT 19u
#define ERROR_GEN_FAILURE 31u
#define ERROR_SHARING_VIOLATION 32u
#define ERROR_LOCK_VIOLATION 33u
#define ERROR_HANDLE_EOF 38u
#define ERROR_NOT_SUPPORTED 50u
#define ERROR_FILE_EXISTS 80u
#define ERROR_INVALID_PARAMETER 87u
#define ERROR_BUFFER_OVERFLOW 111u
#define ERROR_DISK_FULL 112u
#define ERROR_INSUFFICIENT_BUFFER 122u
#define ERROR_INVALID_NAME 123u
#define ERROR_NOT_LOCKED 158u
#define ERROR_ALREADY_EXISTS 183u
#define ERROR_FILENAME_EXCED_RANGE 206u
#define ERROR_MORE_DATA 234u
#define ERROR_OPERATION_ABORTED 995u
#define ERROR_IO_INCOMPLETE 996u
#define ERROR_IO_PENDING 997u
#define ERROR_NOACCESS 998u
#define ERROR_NOT_FOUND 1168u

// NTSTATUS values the layer leaves in OVERLAPPED.Internal.
#define STATUS_PENDING 0x00000103u
#define STATUS_CANCELLED 0xC0000120u

// Waiting and threads.
#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0u
#define WAIT_TIMEOUT 258u
#define WAIT_FAILED ((DWORD)0xFFFFFFFF)
#define STILL_ACTIVE 259u
#define THREAD_SUSPEND_RESUME 0x0002u

// Memory.
#define MEM_COMMIT 0x1000u
#define MEM_RESERVE 0x2000u
#define MEM_RELEASE 0x8000u
#define PAGE_READWRITE 0x04u

// Messages and locale.
#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100u
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200u
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000u
#define FORMAT_MESSAGE_MAX_WIDTH_MASK 0x000000FFu
#define LANG_USER_DEFAULT 0x0400u

// Console control events.
#define CTRL_C_EVENT 0u
#define CTRL_BREAK_EVENT 1u
#define CTRL_CLOSE_EVENT 2u
#define CTRL_LOGOFF_EVENT 5u
#define CTRL_SHUTDOWN_EVENT 6u

#define SECURITY_DESCRIPTOR_REVISION 1u

// Files.
HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa,
                   DWORD disposition, DWORD flags_and_attributes, HANDLE template_file);
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD to_read, LPDWORD read, LPOVERLAPPED ov);
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD to_write, LPDWORD written, LPOVERLAPPED ov);
BOOL FlushFileBuffers(HANDLE file);
DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distance_high, DWORD method);
BOOL DeleteFileA(LPCSTR name);
DWORD GetFileAttributesA(LPCSTR name);
// The flags taken: MOVEFILE_REPLACE_EXISTING (else an existing target is
// refused with ERROR_ALREADY_EXISTS).  A link at either name is not followed.
BOOL MoveFileExA(LPCSTR existing, LPCSTR target, DWORD flags);
BOOL LockFileEx(HANDLE file, DWORD flags, DWORD reserved, DWORD length_low, DWORD length_high,
                LPOVERLAPPED ov);
BOOL UnlockFileEx(HANDLE file, DWORD reserved, DWORD length_low, DWORD length_high,
                  LPOVERLAPPED ov);
BOOL GetOverlappedResult(HANDLE file, LPOVERLAPPED ov, LPDWORD transferred, BOOL wait);
BOOL CancelIoEx(HANDLE file, LPOVERLAPPED ov);
BOOL CloseHandle(HANDLE object);

// Events, timers, waits.
HANDLE CreateEventA(LPSECURITY_ATTRIBUTES sa, BOOL manual_reset, BOOL initial_state, LPCSTR name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);
HANDLE CreateWaitableTimerA(LPSECURITY_ATTRIBUTES sa, BOOL manual_reset, LPCSTR name);
BOOL SetWaitableTimer(HANDLE timer, const LARGE_INTEGER* due_time, LONG period,
                      PTIMERAPCROUTINE completion, LPVOID arg, BOOL resume);
DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds);
void Sleep(DWORD milliseconds);

// Threads and critical sections.
HANDLE CreateThread(LPSECURITY_ATTRIBUTES sa, SIZE_T stack_size, LPTHREAD_START_ROUTINE start,
                    LPVOID param, DWORD creation_flags, LPDWORD thread_id);
BOOL GetExitCodeThread(HANDLE thread, LPDWORD exit_code);
HANDLE OpenThread(DWORD access, BOOL inherit, DWORD thread_id);
DWORD SuspendThread(HANDLE thread);
DWORD ResumeThread(HANDLE thread);
DWORD GetCurrentThreadId(void);
void InitializeCriticalSection(LPCRITICAL_SECTION cs);
void EnterCriticalSection(LPCRITICAL_SECTION cs);
void LeaveCriticalSection(LPCRITICAL_SECTION cs);
void DeleteCriticalSection(LPCRITICAL_SECTION cs);

// Process and system.
BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE routine, BOOL add);
LCID GetSystemDefaultLCID(void);
BOOL GetComputerNameExA(COMPUTER_NAME_FORMAT format, LPSTR buffer, LPDWORD size);
DWORD GetCurrentProcessId(void);
DWORD GetLastError(void);
void SetLastError(DWORD error);
DWORD FormatMessageA(DWORD flags, LPCVOID source, DWORD message_id, DWORD language_id,
                     LPSTR buffer, DWORD size, void* arguments);
HLOCAL LocalFree(HLOCAL mem);
LPVOID VirtualAlloc(LPVOID address, SIZE_T size, DWORD allocation_type, DWORD protect);
BOOL VirtualFree(LPVOID address, SIZE_T size, DWORD free_type);

// Security descriptors: accepted, without effect (a null DACL is what the
// tool asks for, and POSIX files get the process's ordinary permissions).
BOOL InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR sd, DWORD revision);
BOOL SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR sd, BOOL present, PACL dacl, BOOL defaulted);

// The runtime library's path split: drive ("X:"), directory (with its
// trailing separator), file name, extension (with its dot).  '\' and '/' both
// separate.  Returns 0, or an errno value (EINVAL, ERANGE) with every buffer
// emptied.
errno_t _splitpath_s(const char* path, char* drive, size_t drive_size, char* dir, size_t dir_size,
                     char* fname, size_t fname_size, char* ext, size_t ext_size);

#endif  // _WIN32

// The separator the tool puts between a folder and a file name.
#ifdef _WIN32
#define ZARN_PATH_SEPARATOR "\\"
#else
#define ZARN_PATH_SEPARATOR "/"
#endif

#endif  // ZARN_PLATFORM_WIN32_H
