// kvclean.exe
#include "front/entry_point.h"
#include "front/install_command.h"

int wmain(int argc, wchar_t** argv) { return static_cast<int>(RunEntryPoint(argc, argv, RunInstallCommand)); }
