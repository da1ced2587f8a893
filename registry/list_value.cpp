#include "registry/list_value.h"

#include <string.h>

#include "undo/undo_file.h"

LONG WriteListValue(HKEY root, const wchar_t* path, HKEY key, const wchar_t* name, const ListRewrite& rewrite) {
    UndoRecordRewrite(root, path, name, rewrite.type, rewrite.oldBytes, rewrite.oldSize, rewrite.newBytes,
                      rewrite.newSize);
    memset(rewrite.newBytes + rewrite.newSize, 0xFF, kListWriteSlackBytes);
    return win32.RegSetValueExW(key, name, 0, rewrite.type, rewrite.newBytes, rewrite.newSize);
}

void PrintListUnits(const wchar_t* units, size_t count) {
    wchar_t chunk[129];
    size_t used = 0;
    for (size_t i = 0; i < count; ++i) {
        chunk[used++] = units[i] ? units[i] : L' ';
        if (used == 128 || i + 1 == count) {
            chunk[used] = L'\0';
            WidePrint(L"%ls", chunk);
            used = 0;
        }
    }
}
