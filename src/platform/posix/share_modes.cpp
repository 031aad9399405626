// POSIX layer: share modes carried by OFD locks in a reserved range.
//
// Layout from kReservedStart (R):
//   R       never locked: keeps the guard apart from byte-range locks that
//           end at R, which the kernel would otherwise merge with it
//   R+1     guard, held exclusively around every check-and-mark
//   R+2..4  "holds read / write / delete access" markers
//   R+5..7  "denies read / write / delete sharing" markers
#include "platform/posix/share_modes.h"

#include <errno.h>
#include <time.h>

#include "platform/posix/file_object.h"
#include "platform/posix/ofd.h"

namespace zarn_posix {
namespace {

constexpr uint64_t kGuard = kReservedStart + 1;
constexpr uint64_t kMarkers = kReservedStart + 2;
constexpr uint64_t kMarkerCount = 6;

// A peer's guard lock covers the guard byte alone; anything larger is a
// lock of another program over the whole file.
bool is_peer_guard(const struct flock& fl) {
  return static_cast<uint64_t>(fl.l_start) == kGuard && fl.l_len == 1;
}

void pause_us(long us) {
  struct timespec ts = {us / 1000000, us % 1000000 * 1000};
  nanosleep(&ts, nullptr);
}

// Marker bytes as a bit mask: bits 0-2 "holds read/write/delete", bits 3-5
// "denies read/write/delete".  An open must find free the bytes it probes and
// then holds the bytes it marks.
unsigned bytes_to_probe(unsigned rights, unsigned denied) {
  unsigned mask = 0;
  for (int i = 0; i < 3; ++i) {
    if (rights & (1u << i)) mask |= 1u << (3 + i);  // nobody may deny what we ask
    if (denied & (1u << i)) mask |= 1u << i;        // nobody may hold what we deny
  }
  return mask;
}
unsigned bytes_to_mark(unsigned rights, unsigned denied) { return rights | (denied << 3); }

// Calls `f(first, count)` for each run of consecutive bytes in `mask` until
// one returns true; returns whether one did.
template <class F>
bool any_run(unsigned mask, F f) {
  for (uint64_t b = 0; b < kMarkerCount;) {
    if (!(mask & (1u << b))) {
      ++b;
      continue;
    }
    uint64_t end = b;
    while (end < kMarkerCount && (mask & (1u << end))) ++end;
    if (f(kMarkers + b, end - b)) return true;
    b = end;
  }
  return false;
}

// Any lock of another description on a byte to probe is a conflict: a
// marker of another open, or another program's lock over the range.  The
// layout puts the usual probes in one run, so one call.
bool markers_conflict(int fd, unsigned probe) {
  return any_run(probe, [fd](uint64_t start, uint64_t count) {
    struct flock fl;
    return ofd_find(fd, start, count, &fl) == 1;  // errors: no lock support, nothing to see
  });
}

// Sets the marker bytes in `mask`, one call per run.  0, or -1 with errno.
int place_markers(int fd, unsigned mask) {
  bool failed = any_run(mask, [fd](uint64_t start, uint64_t count) {
    return ofd_set(fd, F_RDLCK, start, count) != 0;
  });
  return failed ? -1 : 0;
}

}  // namespace

void pause_ms(long ms) { pause_us(ms * 1000); }

ShareGuard::ShareGuard(int fd, bool writable) : fd_(fd) {
  struct flock fl;
  if (!writable) {
    // No guard without a write lock; still honour another program's lock.
    const int found = ofd_find(fd, kGuard, 1, &fl);
    if (found < 0 && errno == ESTALE) result_ = kStaleFile;
    if (found == 1 && !is_peer_guard(fl)) result_ = ERROR_SHARING_VIOLATION;
    return;
  }
  // Peers hold the guard for a few system calls; one that keeps it for
  // seconds is stopped, and the open gives up as Windows would on a file
  // it cannot share.
  struct timespec start;
  clock_gettime(CLOCK_MONOTONIC, &start);
  long pause = 50;
  for (;;) {
    if (ofd_set(fd, F_WRLCK, kGuard, 1) == 0) {
      held_ = true;
      return;
    }
    if (errno == ESTALE) {
      result_ = kStaleFile;
      return;
    }
    if (!ofd_conflict_errno(errno)) return;  // no OFD locks here: unguarded
    int found = ofd_find(fd, kGuard, 1, &fl);
    if (found < 0) return;
    if (found == 1 && !is_peer_guard(fl)) {
      result_ = ERROR_SHARING_VIOLATION;
      return;
    }
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    if (now.tv_sec - start.tv_sec > 5) {
      result_ = ERROR_SHARING_VIOLATION;
      return;
    }
    if (found == 1) {  // else released meanwhile: again at once
      pause_us(pause);
      if (pause < 2000) pause *= 2;
    }
  }
}

ShareGuard::~ShareGuard() {
  if (held_) ofd_set(fd_, F_UNLCK, kGuard, 1);
}

DWORD share_open(int fd, bool readable, bool writable, unsigned rights, unsigned share) {
  rights &= kAllRights;
  if (!rights) return 0;
  unsigned denied = ~share & kAllRights;
  ShareGuard guard(fd, writable);
  if (guard.result()) return guard.result();
  if (markers_conflict(fd, bytes_to_probe(rights, denied))) return ERROR_SHARING_VIOLATION;
  if (readable && place_markers(fd, bytes_to_mark(rights, denied)) != 0) {
    bool conflict = ofd_conflict_errno(errno);
    ofd_set(fd, F_UNLCK, kMarkers, kMarkerCount);
    // Without lock support the file system cannot carry share modes at all.
    if (conflict) return ERROR_SHARING_VIOLATION;
  }
  return 0;
}

DWORD share_check_delete(int fd) {
  return markers_conflict(fd, 1u << 5) ? ERROR_SHARING_VIOLATION : 0;
}

}  // namespace zarn_posix
