// A stand-in for one of NW.js's DLLs (STAND_IN_NAME) in a host that is
// node.exe under another name: its exports, generated from node.exe's, count
// each call and forward it to the host's function of the same name. It says
// how many calls it forwarded on standard error when the process ends.
// Variants: FAILING_ENTRY_POINT names an export that fails instead, with
// napi_generic_failure; REPORTED_NAPI_VERSION is what napi_get_version says.
#include <windows.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

extern "C" void* s_standInTargets[];
extern "C" const char* const s_standInNames[];
extern "C" const size_t s_standInCount;
// Calls forwarded so far, counted by the stubs.
extern "C" volatile LONG64 s_standInCalls = 0;

#ifdef FAILING_ENTRY_POINT
// napi_generic_failure, whatever the arguments: the caller cleans the stack.
static int GenericFailure() {
  return 9;
}
#endif

#ifdef REPORTED_NAPI_VERSION
static int ReportedVersion(void*, uint32_t* version) {
  *version = REPORTED_NAPI_VERSION;
  return 0;
}
#endif

// Where the variant's export goes instead of the host; null for the others.
static void* Replacement(const char* name) {
#ifdef FAILING_ENTRY_POINT
  if (strcmp(name, FAILING_ENTRY_POINT) == 0) return reinterpret_cast<void*>(GenericFailure);
#endif
#ifdef REPORTED_NAPI_VERSION
  if (strcmp(name, "napi_get_version") == 0) return reinterpret_cast<void*>(ReportedVersion);
#endif
  return NULL;
}

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    HMODULE host = GetModuleHandleW(NULL);
    for (size_t i = 0; i < s_standInCount; ++i) {
      void* replacement = Replacement(s_standInNames[i]);
      s_standInTargets[i] = replacement != NULL
          ? replacement
          : reinterpret_cast<void*>(GetProcAddress(host, s_standInNames[i]));
    }
    // Loaded by process.dlopen, which unloads what registers no module: pinned,
    // it stays for the host's life, as NW.js's own DLLs do.
    HMODULE self;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(module), &self);
  } else if (reason == DLL_PROCESS_DETACH) {
    char line[64];
    int length = snprintf(line, sizeof(line), "%s forwarded %lld calls\n", STAND_IN_NAME,
                          static_cast<long long>(s_standInCalls));
    DWORD written;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), line, length, &written, NULL);
  }
  return TRUE;
}
