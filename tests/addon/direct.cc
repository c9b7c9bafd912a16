// Asks the system directly, from native code, what the addon asks it: the
// SDK's own known-folder identifiers and the paths the shell gives for them
// (for the tests), and the cost of the addon's Win32 calls with no script in
// between (the floor of the benchmark), and of the core's routines that make
// them, called from here (the binding's share is the rest).
#include <node.h>
#include "../../src/sys.h"
#include <windows.h>
#include <shlobj.h>
#include <stdlib.h>
#include <string.h>

struct SdkFolder {
  const char* name;
  const KNOWNFOLDERID* id;
};

#define SDK_FOLDER(id) {#id, &id}

// Every identifier that the known-folder table names, as the SDK defines it.
static const SdkFolder s_sdkFolders[] = {
    SDK_FOLDER(FOLDERID_Windows), SDK_FOLDER(FOLDERID_System), SDK_FOLDER(FOLDERID_SystemX86),
    SDK_FOLDER(FOLDERID_ResourceDir), SDK_FOLDER(FOLDERID_Fonts),
    SDK_FOLDER(FOLDERID_ProgramFiles), SDK_FOLDER(FOLDERID_ProgramFilesX64),
    SDK_FOLDER(FOLDERID_ProgramFilesX86), SDK_FOLDER(FOLDERID_ProgramFilesCommon),
    SDK_FOLDER(FOLDERID_ProgramFilesCommonX64), SDK_FOLDER(FOLDERID_ProgramFilesCommonX86),
    SDK_FOLDER(FOLDERID_Profile), SDK_FOLDER(FOLDERID_Recent), SDK_FOLDER(FOLDERID_StartMenu),
    SDK_FOLDER(FOLDERID_Startup), SDK_FOLDER(FOLDERID_Templates),
    SDK_FOLDER(FOLDERID_LocalAppData), SDK_FOLDER(FOLDERID_LocalAppDataLow),
    SDK_FOLDER(FOLDERID_RoamingAppData), SDK_FOLDER(FOLDERID_Contacts),
    SDK_FOLDER(FOLDERID_Cookies), SDK_FOLDER(FOLDERID_Desktop), SDK_FOLDER(FOLDERID_Documents),
    SDK_FOLDER(FOLDERID_Downloads), SDK_FOLDER(FOLDERID_Favorites),
    SDK_FOLDER(FOLDERID_Libraries), SDK_FOLDER(FOLDERID_Links), SDK_FOLDER(FOLDERID_Music),
    SDK_FOLDER(FOLDERID_Pictures), SDK_FOLDER(FOLDERID_Videos), SDK_FOLDER(FOLDERID_Programs),
    SDK_FOLDER(FOLDERID_AccountPictures), SDK_FOLDER(FOLDERID_Public),
    SDK_FOLDER(FOLDERID_PublicDesktop), SDK_FOLDER(FOLDERID_PublicDocuments),
    SDK_FOLDER(FOLDERID_PublicDownloads), SDK_FOLDER(FOLDERID_PublicLibraries),
    SDK_FOLDER(FOLDERID_PublicMusic), SDK_FOLDER(FOLDERID_PublicPictures),
    SDK_FOLDER(FOLDERID_PublicVideos), SDK_FOLDER(FOLDERID_CommonPrograms),
    SDK_FOLDER(FOLDERID_CommonStartMenu), SDK_FOLDER(FOLDERID_CommonStartup),
    SDK_FOLDER(FOLDERID_CommonTemplates),
};

static const KNOWNFOLDERID* SdkFolderId(const v8::FunctionCallbackInfo<v8::Value>& args) {
  v8::String::Utf8Value name(args.GetIsolate(), args[0]);
  for (const SdkFolder& folder : s_sdkFolders) {
    if (*name != NULL && strcmp(folder.name, *name) == 0) return folder.id;
  }
  return NULL;
}

static v8::Local<v8::String> Utf16Text(v8::Isolate* isolate, const wchar_t* text) {
  return v8::String::NewFromTwoByte(isolate, reinterpret_cast<const uint16_t*>(text));
}

// knownFolderId("FOLDERID_...") is the identifier's GUID as text.
static void knownFolderId(const v8::FunctionCallbackInfo<v8::Value>& args) {
  const KNOWNFOLDERID* id = SdkFolderId(args);
  if (id == NULL) return;
  wchar_t text[40];
  StringFromGUID2(*id, text, 40);
  args.GetReturnValue().Set(Utf16Text(args.GetIsolate(), text));
}

// knownFolderPath("FOLDERID_...") is the shell's path for it, straight from
// UTF-16; "" when the shell cannot resolve it.
static void knownFolderPath(const v8::FunctionCallbackInfo<v8::Value>& args) {
  const KNOWNFOLDERID* id = SdkFolderId(args);
  if (id == NULL) return;
  PWSTR path = NULL;
  HRESULT result = SHGetKnownFolderPath(*id, KF_FLAG_DEFAULT, NULL, &path);
  args.GetReturnValue().Set(Utf16Text(args.GetIsolate(), SUCCEEDED(result) ? path : L""));
  CoTaskMemFree(path);
}

// specialFolderPath(csidl) is the shell's current path for it; "" when the
// shell cannot resolve it.
static void specialFolderPath(const v8::FunctionCallbackInfo<v8::Value>& args) {
  wchar_t path[MAX_PATH];
  HRESULT result = SHGetFolderPathW(NULL, static_cast<int>(args[0]->NumberValue()), NULL,
                                    SHGFP_TYPE_CURRENT, path);
  args.GetReturnValue().Set(Utf16Text(args.GetIsolate(), SUCCEEDED(result) ? path : L""));
}

// The Win32 calls behind one call of getKeyState("Shift"),
// getKnownDirectory("Desktop"), getUserIdleTime() and simulateKeys("F24").
static void GetKeyStateCall() { GetKeyState(VK_SHIFT); }

static void KnownFolderCall() {
  PWSTR path = NULL;
  if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Desktop, KF_FLAG_DEFAULT, NULL, &path))) {
    int size = WideCharToMultiByte(CP_UTF8, 0, path, -1, NULL, 0, NULL, NULL);
    char* utf8 = static_cast<char*>(calloc(size, 1));
    WideCharToMultiByte(CP_UTF8, 0, path, -1, utf8, size, NULL, NULL);
    free(utf8);
  }
  CoTaskMemFree(path);
}

static void IdleTimeCall() {
  LASTINPUTINFO info = {sizeof(info), 0};
  GetLastInputInfo(&info);
  GetTickCount();
}

static void SendInputCall() {
  INPUT input;
  memset(&input, 0, sizeof(input));
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = VK_F24;
  SendInput(1, &input, sizeof(input));
  input.ki.dwFlags = KEYEVENTF_KEYUP;
  SendInput(1, &input, sizeof(input));
}

// The core's routines behind getKeyState("Shift") and simulateKeys("F24").
static void KeyStateOfCall() { KeyStateOf("Shift"); }

static void SendKeyChordCall() { SendKeyChord("F24", "undefined"); }

struct NativeCall {
  const char* name;
  void (*run)();
};

static const NativeCall s_nativeCalls[] = {
    {"getKeyState", GetKeyStateCall},
    {"getKnownDirectory", KnownFolderCall},
    {"getUserIdleTime", IdleTimeCall},
    {"simulateKeys", SendInputCall},
    {"core:getKeyState", KeyStateOfCall},
    {"core:simulateKeys", SendKeyChordCall},
};

// nativeCost(scriptName, count): nanoseconds per run of that function's
// Win32 calls, made count times in a row from here.
static void nativeCost(const v8::FunctionCallbackInfo<v8::Value>& args) {
  v8::String::Utf8Value name(args.GetIsolate(), args[0]);
  int count = static_cast<int>(args[1]->NumberValue());
  for (const NativeCall& call : s_nativeCalls) {
    if (*name == NULL || strcmp(call.name, *name) != 0 || count <= 0) continue;
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    for (int i = 0; i < count; ++i) call.run();
    QueryPerformanceCounter(&end);
    double seconds = static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart;
    args.GetReturnValue().Set(v8::Number::New(args.GetIsolate(), seconds * 1e9 / count));
  }
}

static void InitDirect(v8::Local<v8::Object> exports, v8::Local<v8::Value>, void*) {
  NODE_SET_METHOD(exports, "knownFolderId", knownFolderId);
  NODE_SET_METHOD(exports, "knownFolderPath", knownFolderPath);
  NODE_SET_METHOD(exports, "specialFolderPath", specialFolderPath);
  NODE_SET_METHOD(exports, "nativeCost", nativeCost);
}

NODE_MODULE(velmora_direct, InitDirect)
