// Reaching a key of the plan as Windows' own tools do, and never through a
// registry link.
//
// A path is opened whole, in one open: rights on the keys above the key are
// never needed. Windows follows any link on the way, so the key then opened is
// checked by its kernel name: it must be the key the path names under its
// root, with only these differences:
//   - Windows' own links on the plan's paths (kSystemLinks in key_path.cpp)
//     resolved to the keys they lead to, learnt from the system at run time;
//   - under HKEY_CLASSES_ROOT, either half: \REGISTRY\MACHINE\SOFTWARE\Classes
//     or the user's \REGISTRY\USER\<SID>_Classes;
//   - in the 32-bit view of 64-bit Windows, one Wow6432Node where the registry
//     redirector puts it (below SOFTWARE, SOFTWARE\Classes or a user's classes).
// Names compare without regard to case. A key that is anything else was
// reached through a link (a user's own, planted on the path): it is not used.
#pragma once

#include "platform/win32.h"

// Statuses of an open besides the system's own (ERROR_FILE_NOT_FOUND and
// ERROR_PATH_NOT_FOUND: absent; ERROR_ACCESS_DENIED: refused): a key reached
// through a link, and a key whose kernel name the system would not tell, so
// that it cannot be checked. Neither key is kept open.
const LONG kLinkOnThePath = ERROR_CANT_RESOLVE_FILENAME;
const LONG kKeyNameUnknown = ERROR_CANT_ACCESS_FILE;

// Opens root\path in the current registry view with `access` and `options`
// (REG_OPTION_OPEN_LINK: the last component is taken as itself, a link there
// included; 0: a link there is followed, and so makes the key another one),
// then checks the key opened. `root` is a predefined root or an open key.
// ERROR_SUCCESS with *key open, or the status of the open or of the check.
LONG OpenKeyPath(HKEY root, const wchar_t* path, REGSAM access, DWORD options, HKEY* key);

// Checks that the open `key` is root\path, as above: ERROR_SUCCESS,
// kLinkOnThePath, kKeyNameUnknown or ERROR_NOT_ENOUGH_MEMORY.
LONG CheckKeyPath(HKEY root, const wchar_t* path, HKEY key);

// True when the open key is a registry link itself: opened by its own kernel
// name, a link leads elsewhere (or nowhere). A key that merely holds a REG_LINK
// value named SymbolicLinkValue is no link. Only where the system cannot say
// (the target refuses us) does that value decide.
bool IsRegistryLink(HKEY key);
