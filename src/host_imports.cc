// Binds the addon's imports from "node.exe" to the host's own functions, as
// the library loads. The addon is linked against node.exe, but delay-loaded,
// so that the hooks here find each entry point wherever the host keeps it.
#include "sys.h"

#include <windows.h>
#include <delayimp.h>
#include <stdio.h>
#include <stdlib.h>

// The first entry point that no module of the host exports; null when the
// host has them all.
static const char* s_missingImport;

// Each import comes from the first of these that is loaded and exports it:
// node.dll holds node's and libuv's functions in NW.js, nw.dll holds V8's
// there; the process image holds them all in node.exe, and in an embedder
// that links node statically under another name. None is ever loaded here:
// binding to a second, uninitialised node would defeat the point.
static FARPROC FindHostExport(const char* name) {
  static const wchar_t* const modules[] = {L"node.dll", L"nw.dll", NULL /* the process image */};
  for (const wchar_t* module : modules) {
    HMODULE handle = GetModuleHandleW(module);
    FARPROC function = handle != NULL ? GetProcAddress(handle, name) : NULL;
    if (function != NULL) return function;
  }
  return NULL;
}

void* HostEntryPoint(const char* name) {
  return reinterpret_cast<void*>(FindHostExport(name));
}

const char* MissingHostImport() {
  return s_missingImport;
}

static FARPROC WINAPI HostImportHook(unsigned notification, PDelayLoadInfo info) {
  // The process image stands for "node.exe", whatever the host is called,
  // so that the helper never loads a node.exe from the search path.
  if (notification == dliNotePreLoadLibrary) {
    return reinterpret_cast<FARPROC>(GetModuleHandleW(NULL));
  }
  if (notification == dliNotePreGetProcAddress && info->dlp.fImportByName) {
    return FindHostExport(info->dlp.szProcName);
  }
  return NULL;
}

// Stands in for an entry point that the host lacks. The bindings report the
// lack before anything could call it; it runs only if the lack is in the very
// calls that report it, or in the module's registration. It never returns, so
// the calling convention of the function it stands in for does not matter.
static void WINAPI MissingImport() {
  fprintf(stderr, "velmora_node_sys: the host does not export %s\n", s_missingImport);
  fflush(stderr);
  abort();
}

static FARPROC WINAPI HostImportFailureHook(unsigned notification, PDelayLoadInfo info) {
  if (notification != dliFailGetProc) return NULL;
  if (s_missingImport == NULL) {
    s_missingImport = info->dlp.fImportByName ? info->dlp.szProcName : "an entry point by ordinal";
  }
  return reinterpret_cast<FARPROC>(MissingImport);
}

// decltype: MSVC's delayimp.h declares the hooks const, mingw-w64's does not.
decltype(__pfnDliNotifyHook2) __pfnDliNotifyHook2 = HostImportHook;
decltype(__pfnDliFailureHook2) __pfnDliFailureHook2 = HostImportFailureHook;

// Every import is bound while the library loads, by a static initialiser:
// node calls the module's register function only once loading is done, and
// that function reports a lack, so that a host lacking an entry point is
// found out by require() rather than by a crash at the first call. Whether
// this runs before or after the module registers itself does not matter: the
// registration call binds its own import first if it is not bound yet. In a
// build that links node's libraries directly there is nothing delay-loaded to
// bind, and the call does nothing.
static const HRESULT s_hostImportsBound = __HrLoadAllImportsForDll("node.exe");
