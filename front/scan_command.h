// kvscan.exe: the read-only check of a machine. It runs kvclean's list passes
// with warn on, in the 64-bit view first under WOW64, then natively, never a
// wipe pass, and ends with one summary line (run/run_summary.h).
#pragma once

#include "front/install_command.h"

// Everything kvscan does after its start; returns its exit code: 0 no trace of
// the family, 1 traces found, 2 the check failed, 3 nothing left but deletions
// of the family's that wait in the reboot-time rename list. It takes no
// arguments: one that asks for help (the help words of kvclean) prints the
// help, any other is an error; either way nothing is checked and the exit code
// is 2.
u32 RunScanCommand(int argc, wchar_t** argv, const InstallSteps& steps);

// How kvscan reports a call that its read-only table refused: a failure of the
// check, access denied.
void ReportRefusedCall(const char* function);
