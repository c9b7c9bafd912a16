// The addon's Windows core: the work behind sys.h, in plain types.
//
// Sections, in order: system libraries, idle time, processes, the client's
// render window, known folders, the keyboard, the main thread, the sink, and
// the event sources: the power events that a watch opts into, the hidden
// window, the network poller.
#include "sys.h"
#include "async.h"
#include "check.h"

#include <windows.h>
#include <shlobj.h>
#include <tlhelp32.h>
#include <wtsapi32.h>
#include <atomic>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

// The client's render window once found; never cleared, so the search runs
// only until it succeeds.
static HWND s_chromeWindow;
// Shell32, loaded by the first getKnownDirectory and kept for the process's life.
static HMODULE s_shell32Module;
// SHGetKnownFolderPath, or null on a shell older than Vista's.
static HRESULT(WINAPI* s_SHGetKnownFolderPath)(REFKNOWNFOLDERID, DWORD, HANDLE, PWSTR*);
// SHGetFolderPathW, which serves the names when SHGetKnownFolderPath is missing.
static HRESULT(WINAPI* s_SHGetFolderPathW)(HWND, int, HANDLE, DWORD, LPWSTR);

// The notification entry points' types.
typedef HPOWERNOTIFY(WINAPI* RegisterPowerSettingNotificationFunction)(HANDLE, LPCGUID, DWORD);
typedef BOOL(WINAPI* UnregisterPowerSettingNotificationFunction)(HPOWERNOTIFY);
typedef HPOWERNOTIFY(WINAPI* RegisterSuspendResumeNotificationFunction)(HANDLE, DWORD);
typedef BOOL(WINAPI* WTSRegisterSessionNotificationFunction)(HWND, DWORD);
typedef BOOL(WINAPI* WTSUnRegisterSessionNotificationFunction)(HWND);
typedef BOOL(WINAPI* IsNetworkAliveFunction)(LPDWORD);

// Whether the event sources post: true until the hidden window has received
// WM_CLOSE.
static std::atomic<bool> s_eventSinkOpen(true);
// Guards the power state below, which the window thread's notifications and
// the script thread's opting in each compare and post under it, each event
// tagged with the period that the state belongs to.
static SRWLOCK s_powerStateLock = SRWLOCK_INIT;
// The opt-in period that the power state below belongs to.
static uint32_t s_powerStatePeriod;
// The power source (its notification's value, 3 for any other) and the
// battery level last posted in that period, -1 for none: a repeat posts
// nothing.
static int s_lastPowerSource;
static int s_lastBatteryLevel;
// The sleep event last posted in that period (kSuspended, kResumed), or
// kAwakeUnreported: each of suspend and resume comes once, at the first of
// Windows' notices of it.
static int s_lastSleepEvent;
// Nonzero once the event sources run; the network poller runs while it is.
static std::atomic<int32_t> s_sourcesStarted;
// Whether the window thread has been started, or found unable to run for want
// of an entry point: either way it is not started again.
static bool s_windowThreadStarted;
// The last result of IsNetworkAlive, written by the poller once it runs; 0 at
// start, so that the first poll of a connected machine posts ("network", "on").
static BOOL s_lastNetworkState;
// User32.dll, loaded from the system folder on the first start, never freed.
static HMODULE s_user32Module;
// Wtsapi32.dll, likewise.
static HMODULE s_wtsapi32Module;
// SensApi.dll, likewise.
static HMODULE s_sensApiModule;
// IsNetworkAlive, resolved at each start of the poller.
static IsNetworkAliveFunction s_IsNetworkAlive;
// The four notification entry points, resolved once, before the window thread
// starts; it runs only if all four exist.
static RegisterPowerSettingNotificationFunction s_RegisterPowerSettingNotification;
static UnregisterPowerSettingNotificationFunction s_UnregisterPowerSettingNotification;
static WTSRegisterSessionNotificationFunction s_WTSRegisterSessionNotification;
static WTSUnRegisterSessionNotificationFunction s_WTSUnRegisterSessionNotification;
// RegisterSuspendResumeNotification and its counterpart, both null before
// Windows 8, resolved with the four above.
static RegisterSuspendResumeNotificationFunction s_RegisterSuspendResumeNotification;
static UnregisterPowerSettingNotificationFunction s_UnregisterSuspendResumeNotification;
// The hidden window, set by the window thread once it exists, cleared at WM_CLOSE.
static HWND s_eventWindow;
// The window's power-setting registrations, one per row of s_powerSettingEvents
// and of s_optInPowerSettings, and its suspend and resume registration.
static HPOWERNOTIFY s_powerNotifications[7];
static HPOWERNOTIFY s_suspendResumeNotification;
// Global\TermSrvReadyEvent while the window thread waits for it to retry its
// failed session registration; null otherwise.
static HANDLE s_sessionServiceReady;

// ---------------------------------------------------------------------------
// System libraries

// Loads a system library from the system folder only, so that a DLL planted
// beside the host cannot stand in for it. That search flag exists where
// AddDllDirectory does (Windows 8, or Windows 7 with KB2533623); without it
// the plain search order is all there is.
static HMODULE LoadSystemLibrary(const char* name) {
  if (GetProcAddress(GetModuleHandleA("kernel32.dll"), "AddDllDirectory") != NULL) {
    return LoadLibraryExA(name, NULL, LOAD_LIBRARY_SEARCH_SYSTEM32);
  }
  return LoadLibraryA(name);
}

// ---------------------------------------------------------------------------
// Idle time

int64_t UserIdleTime() {
  LASTINPUTINFO info = {sizeof(info), 0};
  if (!GetLastInputInfo(&info)) return -1;
  // Unsigned arithmetic stays right across a wrap of the tick counter; the
  // difference is never negative.
  return static_cast<DWORD>(GetTickCount() - info.dwTime);
}

// ---------------------------------------------------------------------------
// Processes that run the same executable

// Counts the processes whose executable has the same file name as process
// pid (0: this process) and writes the first capacity of them to items.
static int ListProcessesOfSameExeFile(int32_t pid, ProcessIdPair* items, int capacity) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  DWORD wanted = pid == 0 ? GetCurrentProcessId() : static_cast<DWORD>(pid);

  // The wide records: in the ANSI ones every character that the code page
  // cannot hold reads as '?', so that two different names of three Chinese
  // characters each would both read "???.exe" and match.
  PROCESSENTRY32W target;
  memset(&target, 0, sizeof(target));
  target.dwSize = sizeof(target);
  BOOL more = Process32FirstW(snapshot, &target);
  while (more && target.th32ProcessID != wanted) more = Process32NextW(snapshot, &target);
  if (!more) {
    CloseHandle(snapshot);
    return 0;
  }

  int count = 0;
  PROCESSENTRY32W entry;
  memset(&entry, 0, sizeof(entry));
  entry.dwSize = sizeof(entry);
  for (more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    if (wcscmp(entry.szExeFile, target.szExeFile) != 0) continue;
    if (count < capacity) {
      items[count].pid = entry.th32ProcessID;
      items[count].ppid = entry.th32ParentProcessID;
    }
    ++count;
  }
  CloseHandle(snapshot);
  return count;
}

ProcessIdPair* ProcessesOfSameExeFile(int32_t pid, int* count) {
  *count = 0;
  int expected = ListProcessesOfSameExeFile(pid, NULL, 0);
  if (expected <= 0) return NULL;
  ProcessIdPair* pairs = static_cast<ProcessIdPair*>(malloc(expected * sizeof(ProcessIdPair)));
  if (pairs == NULL) return NULL;
  // A second snapshot: processes may have started or ended in between.
  int found = ListProcessesOfSameExeFile(pid, pairs, expected);
  *count = found < expected ? found : expected;
  return pairs;
}

// ---------------------------------------------------------------------------
// The client's render window: a child "Chrome Legacy Window" inside a
// top-level window of this process's parent (the client's browser process).

struct ChromeWindowSearch {
  DWORD parentPid;
  HWND found;
};

static BOOL CALLBACK EnumChildWindowProc(HWND window, LPARAM foundSlot) {
  char text[4096];
  GetWindowTextA(window, text, sizeof(text));
  if (strcmp(text, "Chrome Legacy Window") != 0) return TRUE;
  GetClassNameA(window, text, sizeof(text));
  if (strncmp(text, "Chrome_RenderWidgetHostHWND", 27) != 0) return TRUE;
  *reinterpret_cast<HWND*>(foundSlot) = window;
  return FALSE;
}

// Stops at the first top-level window of the parent process that holds the
// render window. EnumChildWindows' own result is documented as unused, so the
// found slot alone says whether the child walk matched.
static BOOL CALLBACK EnumTopWindowProc(HWND window, LPARAM searchParam) {
  ChromeWindowSearch* search = reinterpret_cast<ChromeWindowSearch*>(searchParam);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid != search->parentPid) return TRUE;
  char className[4096];
  GetClassNameA(window, className, sizeof(className));
  if (strncmp(className, "Chrome_WidgetWin_0", 18) != 0) return TRUE;
  EnumChildWindows(window, EnumChildWindowProc, reinterpret_cast<LPARAM>(&search->found));
  return search->found == NULL;
}

static DWORD ParentProcessId() {
  DWORD parent = 0;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  DWORD self = GetCurrentProcessId();
  PROCESSENTRY32 entry;
  memset(&entry, 0, sizeof(entry));
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
    if (entry.th32ProcessID == self) parent = entry.th32ParentProcessID;
  }
  CloseHandle(snapshot);
  return parent;
}

int32_t FindChromeWindowHandle() {
  if (s_chromeWindow == NULL) {
    ChromeWindowSearch search = {ParentProcessId(), NULL};
    if (search.parentPid != 0) {
      EnumWindows(EnumTopWindowProc, reinterpret_cast<LPARAM>(&search));
    }
    s_chromeWindow = search.found;
  }
  return static_cast<int32_t>(reinterpret_cast<uintptr_t>(s_chromeWindow));
}

// ---------------------------------------------------------------------------
// Known folders: a folder name turned into the folder's path as the shell
// reports it for the current user. Shells from Vista on resolve names through
// known folders; older ones through the special-folder table, whose
// vocabulary differs, its misspellings ("Statrup") included.

struct KnownFolderName {
  const char* name;
  KNOWNFOLDERID id;
};

// Each identifier is the SDK's FOLDERID_ with the row's name, unless a comment
// names another.
static const KnownFolderName s_knownFolderTable[] = {
    {"Windows", {0xF38BF404, 0x1D43, 0x42F2, {0x93, 0x05, 0x67, 0xDE, 0x0B, 0x28, 0xFC, 0x23}}},
    {"System", {0x1AC14E77, 0x02E7, 0x4E5D, {0xB7, 0x44, 0x2E, 0xB1, 0xAE, 0x51, 0x98, 0xB7}}},
    {"SystemX86", {0xD65231B0, 0xB2F1, 0x4857, {0xA4, 0xCE, 0xA8, 0xE7, 0xC6, 0xEA, 0x7D, 0x27}}},
    // FOLDERID_ResourceDir
    {"Resource", {0x8AD10C31, 0x2ADB, 0x4296, {0xA8, 0xF7, 0xE4, 0x70, 0x12, 0x32, 0xC9, 0x72}}},
    {"Fonts", {0xFD228CB7, 0xAE11, 0x4AE3, {0x86, 0x4C, 0x16, 0xF3, 0x91, 0x0A, 0xB8, 0xFE}}},
    {"ProgramFiles", {0x905E63B6, 0xC1BF, 0x494E, {0xB2, 0x9C, 0x65, 0xB7, 0x32, 0xD3, 0xD2, 0x1A}}},
    {"ProgramFilesX64", {0x6D809377, 0x6AF0, 0x444B, {0x89, 0x57, 0xA3, 0x77, 0x3F, 0x02, 0x20, 0x0E}}},
    {"ProgramFilesX86", {0x7C5A40EF, 0xA0FB, 0x4BFC, {0x87, 0x4A, 0xC0, 0xF2, 0xE0, 0xB9, 0xFA, 0x8E}}},
    // FOLDERID_ProgramFilesCommon, FOLDERID_ProgramFilesCommonX64, FOLDERID_ProgramFilesCommonX86
    {"CommonProgramFiles", {0xF7F1ED05, 0x9F6D, 0x47A2, {0xAA, 0xAE, 0x29, 0xD3, 0x17, 0xC6, 0xF0, 0x66}}},
    {"CommonProgramFilesX64", {0x6365D5A7, 0x0F0D, 0x45E5, {0x87, 0xF6, 0x0D, 0xA5, 0x6B, 0x6A, 0x4F, 0x7D}}},
    {"CommonProgramFilesX86", {0xDE974D24, 0xD9C6, 0x4D3E, {0xBF, 0x91, 0xF4, 0x45, 0x51, 0x20, 0xB9, 0x17}}},
    {"Profile", {0x5E6C858F, 0x0E22, 0x4760, {0x9A, 0xFE, 0xEA, 0x33, 0x17, 0xB6, 0x71, 0x73}}},
    // FOLDERID_Profile again
    {"Home", {0x5E6C858F, 0x0E22, 0x4760, {0x9A, 0xFE, 0xEA, 0x33, 0x17, 0xB6, 0x71, 0x73}}},
    {"Recent", {0xAE50C081, 0xEBD2, 0x438A, {0x86, 0x55, 0x8A, 0x09, 0x2E, 0x34, 0x98, 0x7A}}},
    {"StartMenu", {0x625B53C3, 0xAB48, 0x4EC1, {0xBA, 0x1F, 0xA1, 0xEF, 0x41, 0x46, 0xFC, 0x19}}},
    {"Startup", {0xB97D20BB, 0xF46A, 0x4C97, {0xBA, 0x10, 0x5E, 0x36, 0x08, 0x43, 0x08, 0x54}}},
    {"Templates", {0xA63293E8, 0x664E, 0x48DB, {0xA0, 0x79, 0xDF, 0x75, 0x9E, 0x05, 0x09, 0xF7}}},
    {"LocalAppData", {0xF1B32785, 0x6FBA, 0x4FCF, {0x9D, 0x55, 0x7B, 0x8E, 0x7F, 0x15, 0x70, 0x91}}},
    {"LocalAppDataLow", {0xA520A1A4, 0x1780, 0x4FF6, {0xBD, 0x18, 0x16, 0x73, 0x43, 0xC5, 0xAF, 0x16}}},
    {"RoamingAppData", {0x3EB685DB, 0x65F9, 0x4CF6, {0xA0, 0x3A, 0xE3, 0xEF, 0x65, 0x72, 0x9F, 0x3D}}},
    {"Contacts", {0x56784854, 0xC6CB, 0x462B, {0x81, 0x69, 0x88, 0xE3, 0x50, 0xAC, 0xB8, 0x82}}},
    {"Cookies", {0x2B0F765D, 0xC0E9, 0x4171, {0x90, 0x8E, 0x08, 0xA6, 0x11, 0xB8, 0x4F, 0xF6}}},
    {"Desktop", {0xB4BFCC3A, 0xDB2C, 0x424C, {0xB0, 0x29, 0x7F, 0xE9, 0x9A, 0x87, 0xC6, 0x41}}},
    {"Documents", {0xFDD39AD0, 0x238F, 0x46AF, {0xAD, 0xB4, 0x6C, 0x85, 0x48, 0x03, 0x69, 0xC7}}},
    {"Downloads", {0x374DE290, 0x123F, 0x4565, {0x91, 0x64, 0x39, 0xC4, 0x92, 0x5E, 0x46, 0x7B}}},
    {"Favorites", {0x1777F761, 0x68AD, 0x4D8A, {0x87, 0xBD, 0x30, 0xB7, 0x59, 0xFA, 0x33, 0xDD}}},
    {"Libraries", {0x1B3EA5DC, 0xB587, 0x4786, {0xB4, 0xEF, 0xBD, 0x1D, 0xC3, 0x32, 0xAE, 0xAE}}},
    {"Links", {0xBFB9D5E0, 0xC6A9, 0x404C, {0xB2, 0xB2, 0xAE, 0x6D, 0xB6, 0xAF, 0x49, 0x68}}},
    {"Music", {0x4BD8D571, 0x6D19, 0x48D3, {0xBE, 0x97, 0x42, 0x22, 0x20, 0x08, 0x0E, 0x43}}},
    {"Pictures", {0x33E28130, 0x4E1E, 0x4676, {0x83, 0x5A, 0x98, 0x39, 0x5C, 0x3B, 0xC3, 0xBB}}},
    // FOLDERID_Videos
    {"Video", {0x18989B1D, 0x99B5, 0x455B, {0x84, 0x1C, 0xAB, 0x7C, 0x74, 0xE4, 0xDD, 0xFC}}},
    {"Programs", {0xA77F5D77, 0x2E2B, 0x44C3, {0xA6, 0xA2, 0xAB, 0xA6, 0x01, 0x05, 0x4A, 0x51}}},
    {"AccountPictures", {0x008CA0B1, 0x55B4, 0x4C56, {0xB8, 0xA8, 0x4D, 0xE4, 0xB2, 0x99, 0xD3, 0xBE}}},
    {"Public", {0xDFDF76A2, 0xC82A, 0x4D63, {0x90, 0x6A, 0x56, 0x44, 0xAC, 0x45, 0x73, 0x85}}},
    {"PublicDesktop", {0xC4AA340D, 0xF20F, 0x4863, {0xAF, 0xEF, 0xF8, 0x7E, 0xF2, 0xE6, 0xBA, 0x25}}},
    {"PublicDocuments", {0xED4824AF, 0xDCE4, 0x45A8, {0x81, 0xE2, 0xFC, 0x79, 0x65, 0x08, 0x36, 0x34}}},
    {"PublicDownloads", {0x3D644C9B, 0x1FB8, 0x4F30, {0x9B, 0x45, 0xF6, 0x70, 0x23, 0x5F, 0x79, 0xC0}}},
    // FOLDERID_PublicLibraries
    {"PublicLibrary", {0x48DAF80B, 0xE6CF, 0x4F4E, {0xB8, 0x00, 0x0E, 0x69, 0xD8, 0x4E, 0xE3, 0x84}}},
    {"PublicMusic", {0x3214FAB5, 0x9757, 0x4298, {0xBB, 0x61, 0x92, 0xA9, 0xDE, 0xAA, 0x44, 0xFF}}},
    {"PublicPictures", {0xB6EBFB86, 0x6907, 0x413C, {0x9A, 0xF7, 0x4F, 0xC2, 0xAB, 0xF0, 0x7C, 0xC5}}},
    {"PublicVideos", {0x2400183A, 0x6185, 0x49FB, {0xA2, 0xD8, 0x4A, 0x39, 0x2A, 0x60, 0x2B, 0xA3}}},
    // The seven Public folders again, in the same order
    {"CommonDesktop", {0xC4AA340D, 0xF20F, 0x4863, {0xAF, 0xEF, 0xF8, 0x7E, 0xF2, 0xE6, 0xBA, 0x25}}},
    {"CommonDocuments", {0xED4824AF, 0xDCE4, 0x45A8, {0x81, 0xE2, 0xFC, 0x79, 0x65, 0x08, 0x36, 0x34}}},
    {"CommonDownloads", {0x3D644C9B, 0x1FB8, 0x4F30, {0x9B, 0x45, 0xF6, 0x70, 0x23, 0x5F, 0x79, 0xC0}}},
    {"CommonLibrary", {0x48DAF80B, 0xE6CF, 0x4F4E, {0xB8, 0x00, 0x0E, 0x69, 0xD8, 0x4E, 0xE3, 0x84}}},
    {"CommonMusic", {0x3214FAB5, 0x9757, 0x4298, {0xBB, 0x61, 0x92, 0xA9, 0xDE, 0xAA, 0x44, 0xFF}}},
    {"CommonPictures", {0xB6EBFB86, 0x6907, 0x413C, {0x9A, 0xF7, 0x4F, 0xC2, 0xAB, 0xF0, 0x7C, 0xC5}}},
    {"CommonVideos", {0x2400183A, 0x6185, 0x49FB, {0xA2, 0xD8, 0x4A, 0x39, 0x2A, 0x60, 0x2B, 0xA3}}},
    {"CommonPrograms", {0x0139D44E, 0x6AFE, 0x49F2, {0x86, 0x90, 0x3D, 0xAF, 0xCA, 0xE6, 0xFF, 0xB8}}},
    {"CommonStartMenu", {0xA4115719, 0xD62E, 0x491D, {0xAA, 0x7C, 0xE7, 0x4B, 0x8B, 0xE3, 0xB0, 0x67}}},
    {"CommonStartup", {0x82A5EA35, 0xD9CD, 0x47C5, {0x96, 0x29, 0xE1, 0x5D, 0x2F, 0x71, 0x4E, 0x6E}}},
    {"CommonTemplates", {0xB94237E7, 0x57AC, 0x4347, {0x91, 0x51, 0xB0, 0x8C, 0x6C, 0x32, 0xD1, 0xF7}}},
};

struct SpecialFolderName {
  const char* name;
  int csidl;
};

// "Statrup" and "CommonStatrup" stand twice, alike both times.
static const SpecialFolderName s_csidlTable[] = {
    {"Windows", CSIDL_WINDOWS},
    {"System", CSIDL_SYSTEM},
    {"Resources", CSIDL_RESOURCES},
    {"Fonts", CSIDL_FONTS},
    {"ProgramFiles", CSIDL_PROGRAM_FILES},
    {"ProgramFilesX86", CSIDL_PROGRAM_FILESX86},
    {"Profile", CSIDL_PROFILE},
    {"Home", CSIDL_PROFILE},
    {"Cookies", CSIDL_COOKIES},
    {"Recent", CSIDL_RECENT},
    {"AppData", CSIDL_APPDATA},
    {"Desktop", CSIDL_DESKTOPDIRECTORY},
    {"Documents", CSIDL_PERSONAL},
    {"Favorites", CSIDL_FAVORITES},
    {"Music", CSIDL_MYMUSIC},
    {"Pictures", CSIDL_MYPICTURES},
    {"Programs", CSIDL_PROGRAMS},
    {"StatrupMenu", CSIDL_STARTMENU},
    {"Statrup", CSIDL_STARTUP},
    {"Templates", CSIDL_TEMPLATES},
    {"Video", CSIDL_MYVIDEO},
    {"Statrup", CSIDL_STARTUP},
    {"CommonAppData", CSIDL_COMMON_APPDATA},
    {"CommonDesktop", CSIDL_COMMON_DESKTOPDIRECTORY},
    {"CommonDocuments", CSIDL_COMMON_DOCUMENTS},
    {"CommonFavorites", CSIDL_COMMON_FAVORITES},
    {"CommonMusic", CSIDL_COMMON_MUSIC},
    {"CommonPictures", CSIDL_COMMON_PICTURES},
    {"CommonPrograms", CSIDL_COMMON_PROGRAMS},
    {"CommonStatrupMenu", CSIDL_COMMON_STARTMENU},
    {"CommonStatrup", CSIDL_COMMON_STARTUP},
    {"CommonTemplates", CSIDL_COMMON_TEMPLATES},
    {"CommonVideo", CSIDL_COMMON_VIDEO},
    {"CommonStatrup", CSIDL_COMMON_STARTUP},
};

static void BindShell32() {
  s_shell32Module = LoadSystemLibrary("Shell32.dll");
  CHECK(s_shell32Module != NULL);
  s_SHGetKnownFolderPath = reinterpret_cast<decltype(s_SHGetKnownFolderPath)>(
      GetProcAddress(s_shell32Module, "SHGetKnownFolderPath"));
  s_SHGetFolderPathW = reinterpret_cast<decltype(s_SHGetFolderPathW)>(
      GetProcAddress(s_shell32Module, "SHGetFolderPathW"));
  CHECK(s_SHGetFolderPathW != NULL);
}

// The UTF-8 form of a NUL-terminated UTF-16 text, NUL included, in a buffer
// the caller frees; NULL when it cannot be made.
static char* Utf16ToUtf8(const wchar_t* text) {
  int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, NULL, 0, NULL, NULL);
  if (size <= 0) return NULL;
  char* utf8 = static_cast<char*>(calloc(size, 1));
  if (utf8 != NULL && WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, size, NULL, NULL) != size) {
    free(utf8);
    return NULL;
  }
  return utf8;
}

char* resolveKnownDirectory(const char* name) {
  if (s_shell32Module == NULL) BindShell32();
  if (s_SHGetKnownFolderPath != NULL) {
    const KNOWNFOLDERID* id = NULL;
    for (const KnownFolderName& row : s_knownFolderTable) {
      if (strcmp(row.name, name) == 0) {
        id = &row.id;
        break;
      }
    }
    if (id == NULL) return NULL;
    PWSTR path = NULL;
    char* utf8 = SUCCEEDED(s_SHGetKnownFolderPath(*id, KF_FLAG_DEFAULT, NULL, &path))
        ? Utf16ToUtf8(path)
        : NULL;
    // The path is the caller's to free even when the call fails.
    CoTaskMemFree(path);
    return utf8;
  }
  int csidl = 0;
  for (const SpecialFolderName& row : s_csidlTable) {
    if (strcmp(row.name, name) == 0) {
      csidl = row.csidl;
      break;
    }
  }
  if (csidl == 0) return NULL;
  // Without CSIDL_FLAG_CREATE, so that asking never creates a folder.
  wchar_t path[MAX_PATH];
  path[0] = L'\0';
  if (FAILED(s_SHGetFolderPathW(NULL, csidl, NULL, SHGFP_TYPE_CURRENT, path))) return NULL;
  return Utf16ToUtf8(path);
}

// ---------------------------------------------------------------------------
// Keyboard: the state of a virtual key, and key events through SendInput
// (keys.cc names the keys and walks the chords).

uint16_t VirtualKeyState(uint16_t code) {
  // The state is 16 bits, bit 15 set while the key is down: read unsigned, a
  // key that is down is at least 32768, never negative.
  return static_cast<uint16_t>(GetKeyState(code));
}

void SendVirtualKey(uint16_t code, bool press) {
  INPUT input;
  memset(&input, 0, sizeof(input));
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = code;
  input.ki.dwFlags = press ? 0 : KEYEVENTF_KEYUP;
  if (code == VK_RCONTROL) {
    // Right Control alone goes out as the keyboard itself reports it, its
    // scan code with the extended bit (E0 1D), for programs that tell the two
    // Control keys apart by scan code.
    input.ki.wScan = static_cast<WORD>(MapVirtualKeyA(VK_RCONTROL, MAPVK_VK_TO_VSC));
    input.ki.dwFlags |= KEYEVENTF_EXTENDEDKEY | KEYEVENTF_SCANCODE;
  }
  SendInput(1, &input, sizeof(input));
}

// SendInput has handed each event to the system by the time it returns.
void FinishKeyEvents() {}

// Windows has no badge.
void SetBadge(const char*) {}

// ---------------------------------------------------------------------------
// The main thread

// A process's first thread has the earliest creation time. The system clock
// may give two threads the same time, and a thread snapshot lists a process's
// threads in creation order, so the earlier in the snapshot wins a tie. When
// the process cannot be looked at, the caller is let through.
bool OnProcessMainThread() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return true;
  DWORD process = GetCurrentProcessId();
  DWORD first = 0;
  ULONGLONG firstCreated = 0;
  THREADENTRY32 entry;
  memset(&entry, 0, sizeof(entry));
  entry.dwSize = sizeof(entry);
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID != process) continue;
    ULONGLONG created = ~0ULL;
    HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, entry.th32ThreadID);
    if (thread != NULL) {
      FILETIME times[4];
      if (GetThreadTimes(thread, &times[0], &times[1], &times[2], &times[3])) {
        created = (static_cast<ULONGLONG>(times[0].dwHighDateTime) << 32) | times[0].dwLowDateTime;
      }
      CloseHandle(thread);
    }
    if (first == 0 || created < firstCreated) {
      first = entry.th32ThreadID;
      firstCreated = created;
    }
  }
  CloseHandle(snapshot);
  return first == 0 || first == GetCurrentThreadId();
}

// ---------------------------------------------------------------------------
// The sink: where the event sources post, until the hidden window closes.

static void PostToSink(const char* type, const char* state) {
  if (s_eventSinkOpen) PostEvent(type, state);
}

static void PostPowerToSink(uint32_t period, const char* type, const char* state,
                            DeliveredFunction delivered = NULL, void* deliveredContext = NULL) {
  if (s_eventSinkOpen) {
    PostPowerEvent(period, type, state, delivered, deliveredContext);
  } else if (delivered != NULL) {
    delivered(deliveredContext);
  }
}

// ---------------------------------------------------------------------------
// Event sources: a window thread that turns the system's power-setting and
// session notifications into events, and a poller of network connectivity.
// Started by the first watch, they run until the process ends.

struct PowerSettingEvent {
  GUID setting;
  const char* type;
  const char* states[3];  // by the setting's value; null for a value without a name
};

// In registration and comparison order.
static const PowerSettingEvent s_powerSettingEvents[] = {
    {{0xBA3E0F4D, 0xB817, 0x4094, {0xA2, 0xD1, 0xD5, 0x63, 0x79, 0xE6, 0xA0, 0xF3}},
     "lidswitch", {"close", "open", NULL}},
    {{0x6FE69556, 0x704A, 0x47A0, {0x8F, 0x24, 0xC2, 0x8D, 0x93, 0x6F, 0xDA, 0x47}},
     "display", {"off", "on", "dimmed"}},
    {{0x02731015, 0x4510, 0x4526, {0x99, 0xE6, 0xE5, 0xA1, 0x7E, 0xBD, 0x1A, 0xEA}},
     "power", {"off", "on", NULL}},
    {{0x3C0F4548, 0xC03F, 0x4C4D, {0xB9, 0xF2, 0x23, 0x7E, 0xDE, 0x68, 0x63, 0x76}},
     "user", {"present", NULL, "inactive"}},
    {{0x98A7F580, 0x01F7, 0x48AA, {0x9C, 0x0F, 0x44, 0x35, 0x2C, 0x29, 0xE5, 0xC0}},
     "away", {"exit", "enter", NULL}},
};
// GUID_ACDC_POWER_SOURCE and GUID_BATTERY_PERCENTAGE_REMAINING, registered
// after the table's rows; their events are posted only when opted into.
static const GUID s_acDcPowerSource = {
    0x5D3E9A59, 0xE9D5, 0x4B00, {0xA6, 0xBD, 0xFF, 0x34, 0xFF, 0x51, 0x65, 0x48}};
static const GUID s_batteryPercentageRemaining = {
    0xA7AD8041, 0xB45A, 0x4CAE, {0x87, 0xA3, 0xEE, 0xCB, 0xB4, 0x68, 0xA9, 0xE1}};
static const GUID* const s_optInPowerSettings[] = {&s_acDcPowerSource, &s_batteryPercentageRemaining};
static_assert(ARRAYSIZE(s_powerSettingEvents) + ARRAYSIZE(s_optInPowerSettings) ==
                  ARRAYSIZE(s_powerNotifications),
              "one registration per power setting");

// ---------------------------------------------------------------------------
// The power events that a watch opts into: sleep, the power source, the
// battery and the end of the session. One that is not wanted is dropped here,
// before anything is queued; one queued in an opt-in period that has ended
// since is dropped by the bridge at delivery.

static const char* const s_powerSourceStates[] = {"ac", "battery", "ups", "???"};
enum { kOtherPowerSource = 3, kSessionEndWaitMilliseconds = 3000 };
enum { kAwakeUnreported, kSuspended, kResumed };

// Takes the power state's lock, for the current opt-in period: its first
// taker in a new period starts from nothing posted. False, and no lock, while
// the power events are off.
static bool LockPowerState() {
  AcquireSRWLockExclusive(&s_powerStateLock);
  uint32_t period = PowerPeriod();
  if (period == 0) {
    ReleaseSRWLockExclusive(&s_powerStateLock);
    return false;
  }
  if (s_powerStatePeriod != period) {
    s_powerStatePeriod = period;
    s_lastPowerSource = -1;
    s_lastBatteryLevel = -1;
    s_lastSleepEvent = kAwakeUnreported;
  }
  return true;
}

static void UnlockPowerState() {
  ReleaseSRWLockExclusive(&s_powerStateLock);
}

// Under the power state's lock.
static void PostPowerSource(DWORD value) {
  int source = value < kOtherPowerSource ? static_cast<int>(value) : kOtherPowerSource;
  if (source == s_lastPowerSource) return;
  s_lastPowerSource = source;
  PostPowerToSink(s_powerStatePeriod, "powersource", s_powerSourceStates[source]);
}

// Under the power state's lock.
static void PostBatteryLevel(DWORD percent) {
  if (percent > 100 || static_cast<int>(percent) == s_lastBatteryLevel) return;
  s_lastBatteryLevel = static_cast<int>(percent);
  char state[4];
  snprintf(state, sizeof(state), "%u", static_cast<unsigned>(percent));
  PostPowerToSink(s_powerStatePeriod, "battery", state);
}

// The window registers for suspend and resume and, being top-level, gets
// the broadcast too: a sleep can come twice, and a wake comes as two
// notifications.
static void PostSleep(bool resumed) {
  int event = resumed ? kResumed : kSuspended;
  if (!LockPowerState()) return;
  if (event != s_lastSleepEvent) {
    s_lastSleepEvent = event;
    PostPowerToSink(s_powerStatePeriod, "system", resumed ? "resume" : "suspend");
  }
  UnlockPowerState();
}

// Sets and closes the event handle that it is given: the queue's copy.
static void SetDeliveredEvent(void* event) {
  SetEvent(event);
  CloseHandle(event);
}

// Windows may end the process as soon as the window procedure returns from
// WM_ENDSESSION, so the window thread returns only once the script's callback
// has had the event, or after 3 s. An event that is not queued (nothing is
// watched) is signalled at once.
static void PostSessionEnd(const char* state) {
  uint32_t period = PowerPeriod();
  if (period == 0) return;
  HANDLE delivered = CreateEventA(NULL, TRUE, FALSE, NULL);
  HANDLE given = NULL;
  if (delivered != NULL) {
    DuplicateHandle(GetCurrentProcess(), delivered, GetCurrentProcess(), &given, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
  }
  PostPowerToSink(period, "system", state, given != NULL ? SetDeliveredEvent : NULL, given);
  if (given != NULL) WaitForSingleObject(delivered, kSessionEndWaitMilliseconds);
  if (delivered != NULL) CloseHandle(delivered);
}

// Turned on, the current state is posted: the snapshot is taken under the
// power state's lock, so that a notification that the window thread handles
// meanwhile is compared with it, or it with the notification, and never
// overwritten by an older reading. Turned off, nothing is held for them: the
// end of the session waits on the window's own thread.
void PowerEventsChanged() {
  if (!LockPowerState()) return;
  SYSTEM_POWER_STATUS status;
  if (GetSystemPowerStatus(&status)) {
    // ACLineStatus is 0 offline, 1 online, 255 unknown; a level of 255 is unknown.
    if (status.ACLineStatus <= 1) PostPowerSource(status.ACLineStatus == 1 ? 0 : 1);
    PostBatteryLevel(status.BatteryLifePercent);
  }
  UnlockPowerState();
}

// ---------------------------------------------------------------------------
// The hidden window

// The record's data length is all that bounds it: the 32-bit value is read
// only from a record that says it holds one.
static void PostPowerSetting(const POWERBROADCAST_SETTING* record) {
  DWORD value = 0;
  bool hasValue = record->DataLength >= sizeof(value);
  if (hasValue) memcpy(&value, record->Data, sizeof(value));
  if (memcmp(&record->PowerSetting, &s_acDcPowerSource, sizeof(GUID)) == 0) {
    if (!LockPowerState()) return;
    PostPowerSource(hasValue ? value : kOtherPowerSource);
    UnlockPowerState();
    return;
  }
  if (memcmp(&record->PowerSetting, &s_batteryPercentageRemaining, sizeof(GUID)) == 0) {
    if (!hasValue || !LockPowerState()) return;
    PostBatteryLevel(value);
    UnlockPowerState();
    return;
  }
  for (const PowerSettingEvent& row : s_powerSettingEvents) {
    if (memcmp(&record->PowerSetting, &row.setting, sizeof(GUID)) != 0) continue;
    bool named = hasValue && value < ARRAYSIZE(row.states) && row.states[value] != NULL;
    PostToSink(row.type, named ? row.states[value] : "???");
    return;
  }
  PostToSink("???", "???");
}

// The timer that retries a failed session registration, and its period.
enum { kSessionRetryTimer = 1, kSessionRetryMilliseconds = 5000 };

static void RetrySessionRegistration(HWND window) {
  if (!s_WTSRegisterSessionNotification(window, NOTIFY_FOR_THIS_SESSION)) {
    SetTimer(window, kSessionRetryTimer, kSessionRetryMilliseconds, NULL);
  }
}

// WM_CLOSE ends the notifications and clears the sink, after which no event
// of any kind is posted again in this process. It does not reach
// DefWindowProcA, so the window lives until the thread ends.
static LRESULT CALLBACK EventWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  const char* type = NULL;
  const char* state = NULL;
  switch (message) {
    case WM_CLOSE:
      for (HPOWERNOTIFY& notification : s_powerNotifications) {
        if (notification == NULL) continue;
        s_UnregisterPowerSettingNotification(notification);
        notification = NULL;
      }
      if (s_suspendResumeNotification != NULL) {
        s_UnregisterSuspendResumeNotification(s_suspendResumeNotification);
        s_suspendResumeNotification = NULL;
      }
      if (s_eventWindow != NULL) {
        s_WTSUnRegisterSessionNotification(s_eventWindow);
        s_eventWindow = NULL;
      }
      KillTimer(window, kSessionRetryTimer);
      s_eventSinkOpen = false;
      PostQuitMessage(0);
      return 0;
    case WM_POWERBROADCAST:
      // Posted broadcasts never get here (the message loop drops them), so
      // lParam is the record of a sent one. One sent from another process is
      // read as it arrives: whether Windows copies that record across
      // processes is not known here.
      if (wParam == PBT_POWERSETTINGCHANGE && lParam != 0) {
        PostPowerSetting(reinterpret_cast<const POWERBROADCAST_SETTING*>(lParam));
      } else if (wParam == PBT_APMSUSPEND) {
        PostSleep(false);
      } else if (wParam == PBT_APMRESUMEAUTOMATIC || wParam == PBT_APMRESUMESUSPEND) {
        PostSleep(true);
      }
      break;
    case WM_QUERYENDSESSION:
      // The addon never holds the session up.
      return TRUE;
    case WM_ENDSESSION:
      if (wParam) PostSessionEnd((lParam & ENDSESSION_LOGOFF) != 0 ? "logoff" : "shutdown");
      break;
    case WM_TIMER:
      // KillTimer fails for a timer that is not running, so a WM_TIMER that
      // another process posts retries nothing once the registration holds.
      if (wParam == kSessionRetryTimer && KillTimer(window, kSessionRetryTimer)) {
        RetrySessionRegistration(window);
      }
      break;
    case WM_WTSSESSION_CHANGE:
      type = "session";
      state = wParam == WTS_SESSION_LOCK ? "lock" : wParam == WTS_SESSION_UNLOCK ? "unlock" : "???";
      break;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
  if (type != NULL && state != NULL) PostToSink(type, state);
  return 0;
}

// Windows sends the power broadcasts and the two end-of-session messages,
// and never posts them: however it delivers one (a plain send, a notify-style
// one, or a call on this thread itself, as the current value at
// registration), it reaches the window procedure directly. A posted one can
// only be forged, since any process can post to a window that it finds by
// its class name: a WM_POWERBROADCAST whose lParam points at nothing of
// ours, or a WM_QUERYENDSESSION or WM_ENDSESSION that would report the end of
// the session and hold this thread for up to 3 s. The message loop drops them.
static bool IsOnlyEverSent(UINT message) {
  return message == WM_POWERBROADCAST || message == WM_QUERYENDSESSION || message == WM_ENDSESSION;
}

static DWORD WINAPI EventWindowThread(LPVOID) {
  HINSTANCE module = GetModuleHandleA(NULL);
  WNDCLASSA windowClass;
  memset(&windowClass, 0, sizeof(windowClass));
  windowClass.lpfnWndProc = EventWindowProc;
  windowClass.hInstance = module;
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(1);
  windowClass.lpszClassName = "velmora_node_sys_wc";
  if (RegisterClassA(&windowClass) == 0) {
    OutputDebugStringA("RegisterClass velmora_node_sys_wc failed");
    return static_cast<DWORD>(-1);
  }
  // A top-level window that is never shown: a message-only window would be
  // simpler, but broadcasts such as the power notifications never reach one.
  HWND window = CreateWindowExA(0, "velmora_node_sys_wc", "velmora_node_sys_window",
                                WS_OVERLAPPEDWINDOW, 0, 0, 640, 480, NULL, NULL, module, NULL);
  if (window == NULL) {
    OutputDebugStringA("CreateWindow velmora_node_sys_window failed");
    return static_cast<DWORD>(-2);
  }
  s_eventWindow = window;

  const GUID* settings[ARRAYSIZE(s_powerNotifications)];
  size_t count = 0;
  for (const PowerSettingEvent& row : s_powerSettingEvents) settings[count++] = &row.setting;
  for (const GUID* setting : s_optInPowerSettings) settings[count++] = setting;
  bool allRegistered = true;
  for (size_t i = 0; i < count; ++i) {
    s_powerNotifications[i] =
        s_RegisterPowerSettingNotification(window, settings[i], DEVICE_NOTIFY_WINDOW_HANDLE);
    if (s_powerNotifications[i] == NULL) allRegistered = false;
  }
  if (!allRegistered) OutputDebugStringA("RegisterPowerSettingNotification failed");
  // With Modern Standby, suspend and resume reach only a window registered
  // for them (Windows 8 on).
  if (s_RegisterSuspendResumeNotification != NULL) {
    s_suspendResumeNotification =
        s_RegisterSuspendResumeNotification(window, DEVICE_NOTIFY_WINDOW_HANDLE);
  }
  // At logon the registration fails (RPC_S_INVALID_BINDING) until Remote
  // Desktop Services are ready, which they announce by setting this event;
  // where it cannot be opened, a timer retries instead.
  if (!s_WTSRegisterSessionNotification(window, NOTIFY_FOR_THIS_SESSION)) {
    OutputDebugStringA("WTSRegisterSessionNotification failed");
    s_sessionServiceReady = OpenEventA(SYNCHRONIZE, FALSE, "Global\\TermSrvReadyEvent");
    if (s_sessionServiceReady == NULL) {
      SetTimer(window, kSessionRetryTimer, kSessionRetryMilliseconds, NULL);
    }
  }

  // The message loop waits for the event too, while it is open. With
  // MWMO_INPUTAVAILABLE the wait also ends for messages that are already
  // queued, which a plain wait for new input would sleep through.
  MSG message;
  for (;;) {
    DWORD handleCount = s_sessionServiceReady != NULL ? 1 : 0;
    DWORD woken = MsgWaitForMultipleObjectsEx(handleCount, &s_sessionServiceReady, INFINITE,
                                              QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (handleCount == 1 && woken == WAIT_OBJECT_0) {
      CloseHandle(s_sessionServiceReady);
      s_sessionServiceReady = NULL;
      RetrySessionRegistration(window);
    }
    while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        if (s_sessionServiceReady != NULL) CloseHandle(s_sessionServiceReady);
        s_sessionServiceReady = NULL;
        return 0;
      }
      if (IsOnlyEverSent(message.message)) continue;
      DispatchMessageA(&message);
    }
  }
}

static DWORD WINAPI NetworkPollerThread(LPVOID) {
  while (s_sourcesStarted != 0) {
    DWORD flags;
    // The result means nothing when the last error is not 0 afterwards (for
    // instance while the System Event Notification Service is stopped), and
    // the function sets it only when it fails. A failed poll keeps the last
    // state.
    SetLastError(0);
    BOOL alive = s_IsNetworkAlive(&flags);
    if (GetLastError() == 0 && alive != s_lastNetworkState) {
      PostToSink("network", alive ? "on" : "off");
      s_lastNetworkState = alive;
    }
    Sleep(800);
  }
  return 0;
}

// Returns 0, or -3 when a thread cannot be created; a source that runs, or
// that cannot run here, is not started again. Without the four notification
// entry points only the network poller runs.
int StartEventSources() {
  if (s_sourcesStarted != 0) return 0;
  if (s_user32Module == NULL) s_user32Module = LoadSystemLibrary("User32.dll");
  CHECK(s_user32Module != NULL);
  if (s_wtsapi32Module == NULL) s_wtsapi32Module = LoadSystemLibrary("Wtsapi32.dll");
  CHECK(s_wtsapi32Module != NULL);
  if (s_sensApiModule == NULL) s_sensApiModule = LoadSystemLibrary("SensApi.dll");
  CHECK(s_sensApiModule != NULL);
  s_IsNetworkAlive =
      reinterpret_cast<IsNetworkAliveFunction>(GetProcAddress(s_sensApiModule, "IsNetworkAlive"));
  CHECK(s_IsNetworkAlive != NULL);

  // The window thread reads the entry points: they are resolved before it
  // starts, and never again.
  if (!s_windowThreadStarted) {
    s_RegisterPowerSettingNotification = reinterpret_cast<RegisterPowerSettingNotificationFunction>(
        GetProcAddress(s_user32Module, "RegisterPowerSettingNotification"));
    s_UnregisterPowerSettingNotification =
        reinterpret_cast<UnregisterPowerSettingNotificationFunction>(
            GetProcAddress(s_user32Module, "UnregisterPowerSettingNotification"));
    s_WTSRegisterSessionNotification = reinterpret_cast<WTSRegisterSessionNotificationFunction>(
        GetProcAddress(s_wtsapi32Module, "WTSRegisterSessionNotification"));
    s_WTSUnRegisterSessionNotification = reinterpret_cast<WTSUnRegisterSessionNotificationFunction>(
        GetProcAddress(s_wtsapi32Module, "WTSUnRegisterSessionNotification"));
    s_RegisterSuspendResumeNotification = reinterpret_cast<RegisterSuspendResumeNotificationFunction>(
        GetProcAddress(s_user32Module, "RegisterSuspendResumeNotification"));
    s_UnregisterSuspendResumeNotification =
        reinterpret_cast<UnregisterPowerSettingNotificationFunction>(
            GetProcAddress(s_user32Module, "UnregisterSuspendResumeNotification"));
    if (s_UnregisterSuspendResumeNotification == NULL) s_RegisterSuspendResumeNotification = NULL;
    if (s_RegisterPowerSettingNotification != NULL &&
        s_UnregisterPowerSettingNotification != NULL && s_WTSRegisterSessionNotification != NULL &&
        s_WTSUnRegisterSessionNotification != NULL) {
      HANDLE thread = CreateThread(NULL, 0, EventWindowThread, NULL, 0, NULL);
      if (thread == NULL) return -3;
      CloseHandle(thread);
    }
    s_windowThreadStarted = true;
  }

  // The flag is set first: the poller tests it before its first poll.
  s_lastNetworkState = 0;
  s_sourcesStarted = 1;
  HANDLE thread = CreateThread(NULL, 0, NetworkPollerThread, NULL, 0, NULL);
  if (thread == NULL) {
    s_sourcesStarted = 0;
    return -3;
  }
  CloseHandle(thread);
  return 0;
}
