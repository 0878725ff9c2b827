#include "support/test_support.h"

#include <windows.h>
#include <objbase.h>

namespace vellum::test {

// The host initialises COM on its threads before it calls the plug-in.
void initHostThread() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }

bool isWine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace vellum::test
