#pragma once

// Holds the file-status calls that other threads make on one path until the
// test lets each go on, as a slow share or a scanning filter would, so a test
// can see what waits on them and order what overlaps them. Linux only: the
// test executable that links stat_gate.c answers stat, lstat, fstatat and
// statx itself.

#ifdef __cplusplus
extern "C" {
#endif

// From now on, a status call on path (exactly as given) by any thread but
// the caller waits until released, or a minute has passed.
void stat_gate_arm(const char *path);
// Stops holding calls, and lets every held one go on.
void stat_gate_disarm(void);
// Waits up to timeout_ms for a held call; 1 when one is held, else 0.
int stat_gate_wait_held(int timeout_ms);
// Lets the longest-held call go on.
void stat_gate_release(void);

#ifdef __cplusplus
}
#endif
