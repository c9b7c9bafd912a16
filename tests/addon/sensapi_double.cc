// A stand-in for the system's SensApi.dll, placed beside a test copy of the
// addon: IsNetworkAlive reports the network down while this process's
// environment variable VELMORA_NETWORK_ALIVE is "0", and up otherwise.
#include <windows.h>

extern "C" __declspec(dllexport) BOOL WINAPI IsNetworkAlive(LPDWORD flags) {
  char value[2];
  BOOL alive = !(GetEnvironmentVariableA("VELMORA_NETWORK_ALIVE", value, sizeof(value)) == 1 &&
                 value[0] == '0');
  *flags = alive ? 1 : 0;  // NETWORK_ALIVE_LAN
  return alive;
}
