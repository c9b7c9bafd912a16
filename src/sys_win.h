// The addon's script functions, implemented in sys_win.cc and bound in main.cc.
#ifndef VELMORA_SYS_WIN_H
#define VELMORA_SYS_WIN_H

// The v8.h of Node 12 to 16 names this Windows structure in a declaration
// without declaring it first, and windows.h comes after node.h here.
struct _EXCEPTION_POINTERS;

#include <node.h>

// The script callback of watch(); empty when nothing is watched.
extern v8::Persistent<v8::Value> s_callback;

void getUserIdleTime(const v8::FunctionCallbackInfo<v8::Value>& args);
void getKnownDirectory(const v8::FunctionCallbackInfo<v8::Value>& args);
void getProcessesOfSameExeFile(const v8::FunctionCallbackInfo<v8::Value>& args);
void findChromeWindow(const v8::FunctionCallbackInfo<v8::Value>& args);
void getKeyState(const v8::FunctionCallbackInfo<v8::Value>& args);
void simulateKeys(const v8::FunctionCallbackInfo<v8::Value>& args);
void setBadge(const v8::FunctionCallbackInfo<v8::Value>& args);
void watch(const v8::FunctionCallbackInfo<v8::Value>& args);
void unwatch(const v8::FunctionCallbackInfo<v8::Value>& args);

// The event sink: queues (type, state) for the watch callback. Any thread;
// dropped while nothing is watched.
void postEvent(const char* type, const char* state);

#endif
