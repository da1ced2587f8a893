// kvscan.exe
#include "front/scan_command.h"

int wmain(int argc, wchar_t** argv) { return static_cast<int>(RunScanCommand(argc, argv, kInstallSteps)); }
