// What a run found and what it removed, item by item, at the grain the plans
// work on; the last line of kvclean and of kvscan.
//
// The items:
//   registry key     a key tree, with everything below it, that a key row of
//                    the registry plan lists or removes, or that a search matches
//   value            a value that a value row lists or removes (SharedDlls, Cpls, ...),
//                    or that a search finds on its starting key
//   list entry       an entry that a list repair finds or takes out: "kvtls" or
//                    "kvssl" in the LSA package list; a default revocation
//                    provider list that does not start with cryptnet.dll is one
//   file or folder   a file of the file plan (a module or driver of the system
//                    directory; a driver setup file, the .inf and its .pnf being
//                    two), or a folder of the plan with all it holds (the
//                    family's program folders, its Start Menu folders)
// deferred: every file and folder that a wipe pass scheduled for deletion at
// the next reboot, inside a removed folder too; failures: every report that
// is not a find (run/error_report.h).
#pragma once

#include "platform/win32.h"

enum CountedKind { kCountedKey, kCountedValue, kCountedListEntry, kCountedFile, kCountedKinds };

// Finds count only once StartCountingFinds has run (kvscan does, kvclean does
// not). Each item of the machine counts once, however many rows or passes find
// it: the same key removed by two rows, a search run twice, the keys and
// folders that the 64-bit and the native view share (SYSTEM, the user's keys,
// the Start Menu, the INF folder). Items are told apart by what they are: a key
// by its kernel name ("\REGISTRY\MACHINE\SOFTWARE\Wow6432Node\..." is not
// "\REGISTRY\MACHINE\SOFTWARE\..."), a value by its key and its name, a list
// entry by its key, value and text, a file or folder by its full path (the file
// plan names each view's folders by their own paths), all without regard to
// the case of ASCII letters. Memory grows with the items found, nothing else.
void StartCountingFinds();
bool CountingFinds();
// A key inside a key tree counted before (a search looking below an earlier
// search's match, a key row within another row's tree) is no new item, as
// kvclean removes that tree and never comes to the key. A tree counted after
// keys inside it is one item more: kvclean removes those keys first, each on
// its own, then the tree.
void CountFoundKey(HKEY key);
// A key found by its name below an open parent without being opened itself
// (it refuses us): told apart by its parent's kernel name and its own name.
void CountFoundSubkey(HKEY parent, const wchar_t* name);
void CountFoundValue(HKEY key, const wchar_t* name);
void CountFoundListEntry(HKEY key, const wchar_t* value, const wchar_t* entry);
void CountFoundFile(const wchar_t* path);

// True while finds count and the key parent\name counts already, itself or
// inside a tree.
bool InCountedKey(HKEY parent, const wchar_t* name);

// Where a list pass could not read what it had to (a key that refuses
// reading, a key whose name cannot be checked, passes that cannot run): in a
// scan a failure of the check, the report "Could not look: <what>" with
// `status` as its error; otherwise nothing. Result: the report's, or 0.
u32 CouldNotLook(LONG status, const wchar_t* what);

// What the wipe passes did: each removal happens once, so these simply count.
// A file or folder moved aside and scheduled for the reboot has left its path
// and counts as removed; each scheduled deletion also counts as deferred.
void CountRemoved(CountedKind kind);
void CountDeferred();

// A deletion of the family's that waits in the reboot-time rename list
// (files/pending_renames.h counts each once); kvscan's list passes count them.
void CountWaitingDeletion();

struct RunCounts {
    u32 found[kCountedKinds];
    u32 removed[kCountedKinds];
    u32 deferred;
    u32 failures;
};
RunCounts CurrentRunCounts();
// Forgets every count and every item found, and the report tally.
void ResetRunCounts();

// kvclean's last line: "kvclean: removed K registry keys, V values, L list
// entries, F files and folders; D deferred to the next reboot; E failures".
void PrintCleanSummary();

// kvscan's exit codes.
const u32 kScanNoTrace = 0;
const u32 kScanTracesFound = 1;
const u32 kScanFailed = 2;
const u32 kScanWaitsForReboot = 3;

// kvscan's last line, and its exit code: with a failure report "kvscan: check
// failed with E failures; N items ...", exit 2; else "kvscan: N items of the
// family found (K registry keys, V values, L list entries, F files and
// folders)", exit 1; else, with deletions waiting, "kvscan: nothing left to
// remove; N deletions wait for the next reboot", exit 3, or "kvscan: no trace
// of the family found", exit 0.
u32 PrintScanSummary();
