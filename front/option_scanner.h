// Long options over wide arguments, in the manner of GNU getopt_long_only:
// one or two dashes alike, a unique beginning of a name is enough, options may
// stand anywhere (the non-options are moved behind them), "--" ends the scan.
// No option takes a value; there are no short options.
#pragma once

#include "platform/win32.h"

struct LongOption {
    const wchar_t* name;  // null in the row that ends the table
    int code;
};

// Where one scan stands. Every scan starts from kFreshOptionScan.
struct OptionScan {
    int next;            // the next argument to examine
    int firstNonOption;  // the non-options skipped so far lie in [first, last)
    int lastNonOption;
};
const OptionScan kFreshOptionScan = {1, 1, 1};

const int kScanDone = -1;
const int kScanError = '?';

// Returns the code of the next option; kScanError after printing a message to
// standard error (the offending argument is skipped); kScanDone when no options
// remain, with scan->next then at the first of the non-options behind them.
int ScanLongOption(int argc, wchar_t** argv, const LongOption* options, OptionScan* scan);
