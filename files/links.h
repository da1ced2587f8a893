// Links among the family's files: junctions and symbolic links, to folders
// and to files. What an entry is comes from a handle opened on the entry
// itself, never from what it names; a link is removed itself, never followed.
#pragma once

#include "files/file_delete.h"

// True when a listing shows the entry as a link: a reparse point that is a
// name surrogate, or one whose tag the listing does not show (Wine shows its
// unix links to folders so). Other reparse points (deduplicated files, cloud
// placeholders) hold data of their own.
bool ListedAsLink(const WIN32_FIND_DATAW& entry);

// True when `path` opens as a link: the handle opened without following it
// shows a link's reparse point, or is not the entry at `path` at all (Wine
// follows every link and shows a link to a file as that file). False when the
// entry cannot be opened: what comes next reports that.
bool OpensAsLink(const wchar_t* path);

// Removes the link at `path` itself, through a handle that holds the link and
// not what it names. "Deleted link: ..." or a report; a platform that can
// open the link only by following it (Wine) keeps it, reported.
Fate RemoveLink(const wchar_t* path);
