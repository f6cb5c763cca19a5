// The framework's switchable resource module and string loading from it.
#include "updater/framework/resource_strings.h"

namespace {

HINSTANCE resourceModule = nullptr;

}  // namespace

HINSTANCE ResourceModule() { return resourceModule; }

void SetResourceModule(HINSTANCE module) { resourceModule = module; }

int LoadResourceString(UINT id, char* text, int size) {
  if (text == nullptr || size <= 0) return 0;
  // A missing string leaves the caller's buffer as it was on some systems: start empty.
  text[0] = '\0';
  int length = LoadStringA(resourceModule, id, text, size);
  if (length <= 0) {
    text[0] = '\0';
    return 0;
  }
  if (length >= size) length = size - 1;
  text[length] = '\0';
  return length;
}

void ResetResourceStringsState() { resourceModule = nullptr; }
