// The framework's application object and the program's entry point.
#include "updater/framework/application.h"

#include "updater/framework/resource_strings.h"

namespace {

Application* current = nullptr;

}  // namespace

Application::Application() { current = this; }

Application::~Application() {
  if (current == this) current = nullptr;
}

Application* Application::Current() { return current; }

bool Application::InitInstance() { return true; }

int Application::Run() {
  MSG message;
  for (;;) {
    BOOL got = GetMessageA(&message, nullptr, 0, 0);
    if (got == 0) {
      exitCode_ = static_cast<int>(message.wParam);
      break;
    }
    if (got == -1) {
      exitCode_ = -1;
      break;
    }
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return exitCode_;
}

int Application::ExitInstance() { return exitCode_; }

const Application::CommandMap* Application::GetCommandMap() const { return nullptr; }

bool Application::OnCmdMsg(UINT command) {
  for (const CommandMap* map = GetCommandMap(); map != nullptr; map = map->base) {
    for (size_t i = 0; i < map->count; ++i) {
      if (map->entries[i].command == command) {
        (this->*(map->entries[i].handler))();
        return true;
      }
    }
  }
  return false;
}

void Application::OnHelp() {}

int Application::Main(HINSTANCE instance) {
  instance_ = instance;
  // Strings come from the program's own module until someone switches it.
  SetResourceModule(instance);
  if (InitInstance()) Run();
  return ExitInstance();
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  Application* app = Application::Current();
  return app != nullptr ? app->Main(instance) : -1;
}
