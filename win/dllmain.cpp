// Entry routine of OrvaneCom.dll. The workspace is static storage that needs
// no setting up, so loading and unloading never fail on the library's account.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD /*reason*/, LPVOID /*reserved*/) { return 1; }
