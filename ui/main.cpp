// Placeholder entry of the installer program until the wizard lands: it only proves
// that the engine builds and links for the target.
#include <windows.h>

#include "engine/lzhuf_decoder.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  volatile auto decode = &LzhufDecode;
  (void)decode;
  return 0;
}
