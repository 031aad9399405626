// On a FUSE share with lock forwarding (bindfs), a description's locks can
// outlive its last close: the handle's own locks and share markers must be
// gone when CloseHandle returns.  The test mounts a share of its own (root
// and /dev/fuse needed) and unmounts it on every way out.
#ifndef _WIN32

#include "helpers.h"

namespace {

// Runs a program to its end: its exit status, or -1.
int run(const std::vector<std::string>& argv) {
  Child child;
  return start_program(argv, &child) ? wait_child(&child, 60000) : -1;
}

// `bindfs --enable-lock-forwarding --multithreaded` of one folder onto
// another, both in a temporary folder; unmounted by the destructor.
struct LockForwardingShare {
  TempDir dir;
  std::string folder = dir.file("folder"), mount = dir.file("mount");
  std::string why_not;  // empty when mounted
  bool mounted = false;

  LockForwardingShare() {
    if (geteuid() != 0) {
      why_not = "mounting a FUSE share needs root";
    } else if (access("/dev/fuse", R_OK | W_OK) != 0) {
      why_not = "mounting a FUSE share needs /dev/fuse";
    } else if (mkdir(folder.c_str(), 0755) != 0 || mkdir(mount.c_str(), 0755) != 0) {
      why_not = "no temporary folder";
    } else if (run({"bindfs", "--enable-lock-forwarding", "--multithreaded", folder, mount}) != 0) {
      why_not = "bindfs could not mount the share (is it installed?)";
    } else {
      mounted = true;
    }
  }
  ~LockForwardingShare() {
    if (mounted && run({"umount", mount}) != 0) run({"umount", "-l", mount});
  }
};

TEST(FuseShare, CloseGivesBackTheLocksAndMarkersOfTheHandle) {
  LockForwardingShare share;
  if (!share.mounted) GTEST_SKIP() << "no lock-forwarding FUSE share: " << share.why_not;
  const std::string path = share.mount + "/f";
  // An open without access keeps the file in use meanwhile, as the partner
  // handles of a check do; it neither checks nor marks share modes.
  HANDLE keeper = open_file(path, 0, kShareAll, OPEN_ALWAYS);
  ASSERT_NE(INVALID_HANDLE_VALUE, keeper);
  // Holds read and write access, denies delete sharing, locks byte 0.
  HANDLE first = open_file(path, kRW, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
  ASSERT_NE(INVALID_HANDLE_VALUE, first);
  EXPECT_EQ(0u, lock(first, 'x', 0));
  EXPECT_TRUE(CloseHandle(first));
  // The share takes a description at the address of a closed one for the
  // same lock owner, and the kernel readily reuses the address for the
  // next open: plain opens take it, so that the opens below are other
  // owners, as another process's would be.
  std::vector<int> fillers;
  for (int i = 0; i < 4; ++i) fillers.push_back(::open(path.c_str(), O_RDONLY));
  // Nothing of the closed handle is left: an open that shares nothing, its
  // lock on the byte, and the deletion.
  HANDLE second = open_file(path, kRW, 0, OPEN_EXISTING);
  EXPECT_NE(INVALID_HANDLE_VALUE, second) << GetLastError();
  if (second != INVALID_HANDLE_VALUE) {
    EXPECT_EQ(0u, lock(second, 'x', 0));
    CloseHandle(second);
  }
  EXPECT_EQ(0u, error_of(DeleteFileA(path.c_str())));
  for (int fd : fillers) ::close(fd);
  CloseHandle(keeper);
}

}  // namespace

#endif  // !_WIN32
