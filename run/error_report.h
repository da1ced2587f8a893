// Error reports: one coloured report per failure, where it is detected.
#pragma once

#include "platform/win32.h"

// Returned when the failing call left no error code behind.
const u32 kReportWithoutErrorCode = 0x7777777;
// Returned when the report could not allocate its conversion buffer.
const u32 kReportOutOfMemory = 0x80090300;  // SEC_E_INSUFFICIENT_MEMORY

// Prints the banner, "unit:line:" and the message, the last error as number and
// system text, and returns that error (never 0). `format` is narrow; wide
// arguments go in as "%S". Leaves the last error set to the returned value.
u32 ErrorReport(const char* unit, int line, const char* format, ...) KV_PRINTF_FORMAT(3, 4);
u32 ErrorReportV(const char* unit, int line, const char* format, va_list args) KV_PRINTF_FORMAT(3, 0);

// The reports made so far in this process: finds, the "Redundant data
// found..." reports of a list pass with warn on, and failures, every other one.
struct ReportTally {
    u32 finds;
    u32 failures;
};
ReportTally CurrentReportTally();
void ResetReportTally();

// One usage line: "  -name            description", continuation lines aligned.
void PrintOptionHelp(const char* name, const char* description);

// Reports from the cleanup operations carry the unit name "install" and the
// line of the report call.
#define REPORT(...) ErrorReport("install", __LINE__, __VA_ARGS__)
