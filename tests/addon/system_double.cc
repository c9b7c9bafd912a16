// A stand-in for the system's SensApi.dll and Wtsapi32.dll, copied under both
// names into the wine prefix's system folder.
//
// IsNetworkAlive follows this process's environment variable
// VELMORA_NETWORK_ALIVE: "0" reports the network down, "error" fails as the
// function does while the System Event Notification Service is stopped (FALSE
// with a last error), anything else reports it up.
//
// The first n calls of WTSRegisterSessionNotification fail with
// RPC_S_INVALID_BINDING, as at logon before Remote Desktop Services are ready,
// n being the variable VELMORA_SESSION_REGISTRATION_FAILURES (0 when unset);
// each call publishes its number in VELMORA_SESSION_REGISTRATIONS.
#include <windows.h>
#include <stdlib.h>
#include <string.h>

// Calls of WTSRegisterSessionNotification so far.
static LONG s_registrations;

extern "C" __declspec(dllexport) BOOL WINAPI IsNetworkAlive(LPDWORD flags) {
  // Success leaves the last error as it was, which reading an unset variable
  // does not.
  DWORD lastError = GetLastError();
  char value[8] = "";
  GetEnvironmentVariableA("VELMORA_NETWORK_ALIVE", value, sizeof(value));
  SetLastError(lastError);
  if (strcmp(value, "error") == 0) {
    SetLastError(ERROR_SERVICE_NOT_ACTIVE);
    return FALSE;
  }
  BOOL alive = strcmp(value, "0") != 0;
  *flags = alive ? 1 : 0;  // NETWORK_ALIVE_LAN
  return alive;
}

extern "C" __declspec(dllexport) BOOL WINAPI WTSRegisterSessionNotification(HWND, DWORD) {
  char text[16] = "0";
  GetEnvironmentVariableA("VELMORA_SESSION_REGISTRATION_FAILURES", text, sizeof(text));
  long failures = atol(text);
  long call = InterlockedIncrement(&s_registrations);
  SetEnvironmentVariableA("VELMORA_SESSION_REGISTRATIONS", _ltoa(call, text, 10));
  if (call > failures) return TRUE;
  SetLastError(RPC_S_INVALID_BINDING);
  return FALSE;
}

extern "C" __declspec(dllexport) BOOL WINAPI WTSUnRegisterSessionNotification(HWND) {
  return TRUE;
}
