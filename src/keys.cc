// Named keys and chords, the same on every platform: the key-name table, the
// token rule and the chord walk. Keys are Windows virtual-key codes, which
// each core turns into its own key events (sys.h, "For the keyboard").
#include "sys.h"

#include <string.h>

struct KeyName {
  const char* name;
  uint8_t length;  // of name, so that a lookup compares texts of its length only
  uint16_t code;
};

#define KEY(name, code) {name, sizeof(name) - 1, code}

// The virtual-key codes that the table names.
enum : uint16_t {
  kBack = 0x08, kTab = 0x09, kReturn = 0x0D, kShift = 0x10, kControl = 0x11, kMenu = 0x12,
  kCapital = 0x14, kLeftWin = 0x5B, kRightWin = 0x5C, kF1 = 0x70, kLeftShift = 0xA0,
  kRightShift = 0xA1, kLeftControl = 0xA2, kRightControl = 0xA3, kLeftMenu = 0xA4,
  kRightMenu = 0xA5,
};

// The names that getKeyState and simulateKeys know. "Cmd" means Control, and
// "Win", "Super" and "Meta" without a side the left Windows key.
static const KeyName s_keyTable[] = {
    KEY("Ctrl", kControl), KEY("Control", kControl), KEY("Cmd", kControl),
    KEY("LCtrl", kLeftControl), KEY("LControl", kLeftControl), KEY("LCmd", kLeftControl),
    KEY("RCtrl", kRightControl), KEY("RControl", kRightControl), KEY("RCmd", kRightControl),
    KEY("Shift", kShift), KEY("LShift", kLeftShift), KEY("RShift", kRightShift),
    KEY("Alt", kMenu), KEY("Option", kMenu), KEY("Menu", kMenu),
    KEY("LAlt", kLeftMenu), KEY("LOption", kLeftMenu), KEY("LMenu", kLeftMenu),
    KEY("RAlt", kRightMenu), KEY("ROption", kRightMenu), KEY("RMenu", kRightMenu),
    KEY("Win", kLeftWin), KEY("Super", kLeftWin), KEY("Meta", kLeftWin),
    KEY("LWin", kLeftWin), KEY("LSuper", kLeftWin), KEY("LMeta", kLeftWin),
    KEY("RWin", kRightWin), KEY("RSuper", kRightWin), KEY("RMeta", kRightWin),
    KEY("Backspace", kBack), KEY("Back", kBack), KEY("Enter", kReturn), KEY("Return", kReturn),
    KEY("Tab", kTab), KEY("Caps", kCapital), KEY("Caption", kCapital),
    KEY("F1", kF1), KEY("F2", kF1 + 1), KEY("F3", kF1 + 2), KEY("F4", kF1 + 3), KEY("F5", kF1 + 4),
    KEY("F6", kF1 + 5), KEY("F7", kF1 + 6), KEY("F8", kF1 + 7), KEY("F9", kF1 + 8),
    KEY("F10", kF1 + 9), KEY("F11", kF1 + 10), KEY("F12", kF1 + 11), KEY("F13", kF1 + 12),
    KEY("F14", kF1 + 13), KEY("F15", kF1 + 14), KEY("F16", kF1 + 15), KEY("F17", kF1 + 16),
    KEY("F18", kF1 + 17), KEY("F19", kF1 + 18), KEY("F20", kF1 + 19), KEY("F21", kF1 + 20),
    KEY("F22", kF1 + 21), KEY("F23", kF1 + 22), KEY("F24", kF1 + 23),
};

#undef KEY

// Modes of a chord (press and release, presses only, releases only), and the
// two kinds of key event.
enum { kPressAndRelease = 0, kPress = 1, kRelease = 2 };

// The code of the row whose name is exactly the length bytes at name; 0 when
// no row has that name.
static uint16_t FindKeyCode(const char* name, size_t length) {
  for (const KeyName& key : s_keyTable) {
    if (key.length == length && memcmp(key.name, name, length) == 0) return key.code;
  }
  return 0;
}

// A one-byte token is a virtual-key code itself, taken as it stands: "A" is
// the A key (65), "a" is VK_NUMPAD1 (97). Longer tokens are key names.
static uint16_t KeyCodeOfToken(const char* token, size_t length) {
  if (length == 1) return static_cast<unsigned char>(token[0]);
  return FindKeyCode(token, length);
}

// Sends one press (kind kPress) or release (any other kind) of the token's
// key; nothing for an empty token or one that names no key.
static void sendKeyEvent(const char* token, size_t length, int kind) {
  uint16_t code = KeyCodeOfToken(token, length);
  if (code != 0) SendVirtualKey(code, kind == kPress);
}

// Presses the chord's keys in token order, then releases them in reverse
// order, each event sent on its own. Two flat passes over the text, the
// second one backwards, keep the stack depth and the memory constant however
// many tokens the chord has.
static void simulateChord(const char* text, int mode) {
  const char* end = text + strlen(text);
  if (mode != kRelease) {
    const char* token = text;
    for (;;) {
      const char* plus = static_cast<const char*>(memchr(token, '+', end - token));
      const char* tokenEnd = plus != NULL ? plus : end;
      sendKeyEvent(token, tokenEnd - token, kPress);
      if (plus == NULL) break;
      token = plus + 1;
    }
  }
  if (mode != kPress) {
    const char* tokenEnd = end;
    for (;;) {
      const char* token = tokenEnd;
      while (token > text && token[-1] != '+') --token;
      sendKeyEvent(token, tokenEnd - token, kRelease);
      if (token == text) break;
      tokenEnd = token - 1;
    }
  }
  FinishKeyEvents();
}

uint16_t KeyStateOf(const char* name) {
  // Unknown names ask about code 0, whose answer is passed on like any other.
  return VirtualKeyState(FindKeyCode(name, strlen(name)));
}

void SendKeyChord(const char* keys, const char* mode) {
  int chordMode = kPressAndRelease;
  if (strcmp(mode, "down") == 0) chordMode = kPress;
  if (strcmp(mode, "up") == 0) chordMode = kRelease;
  simulateChord(keys, chordMode);
}
