#pragma once
// Named points at which a test can make the program fail: every rename,
// delete, file create, fsync and commit that changes an archive passes one.
// A point can be armed to return an error (as if the system call had failed
// with ENOSPC or EIO) or to kill the process on the spot (SIGKILL, so that
// nothing after it runs: no destructor, no buffered write).
//
// Arming from outside the process (the crash tests run the CLI):
//   QUILLEX_FAILPOINTS="NAME@N=ACTION[,NAME@N=ACTION...]"
//     NAME    a point's name, or "*" for any point
//     N       the N-th hit of that name (of any point for "*"), from 1
//     ACTION  kill | enospc | eio
//   QUILLEX_FAILPOINT_TRACE=FILE
//     appends the name of every point hit, one per line, so a test can first
//     learn which points a command passes and then try each in turn.
#include <string>
#include <string_view>

namespace qx {

enum class FailAction { Kill, NoSpace, IoError };

// 0 when the step may go ahead; an errno value (ENOSPC, EIO) when it must
// fail as if the system had refused it. Does not return when armed to kill.
int Failpoint(std::string_view name);

namespace failpoints {

// Arms `name` ("*" for any point) for its n-th hit from now on.
void Arm(std::string_view name, int nth, FailAction action);
// Forgets every armed point and the hit counts (the environment is read
// again on the next hit).
void Reset();
// How often each point was passed since the last Reset, "name=count" lines.
std::string Hits();

}  // namespace failpoints

}  // namespace qx
