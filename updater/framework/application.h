// The framework's application object: one per program, created as a global. The program's
// entry point hands it the instance, runs its initialisation step and, only when that step
// returns true, a message loop. Commands reach it through its command map.
#pragma once

#include <cstddef>

#include "updater/update_calls.h"

class Application {
 public:
  Application();
  virtual ~Application();
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

  static Application* Current();
  HINSTANCE Instance() const { return instance_; }

  // The whole program may run here; false ends it without a message loop.
  virtual bool InitInstance();
  // Pumps messages until WM_QUIT; returns its code.
  virtual int Run();
  // Last step before the program ends; its result is the exit code.
  virtual int ExitInstance();

  // Routes a command through the command maps, the derived class's first. False when no
  // entry takes it.
  bool OnCmdMsg(UINT command);

  // The framework's default help handler. The programs built on this framework ship no
  // help file, so there is nothing to open.
  void OnHelp();

  // Called by the entry point.
  int Main(HINSTANCE instance);

 protected:
  typedef void (Application::*CommandHandler)();
  struct CommandMapEntry {
    UINT command;
    CommandHandler handler;
  };
  struct CommandMap {
    const CommandMap* base;
    const CommandMapEntry* entries;
    size_t count;
  };
  virtual const CommandMap* GetCommandMap() const;

 private:
  HINSTANCE instance_ = nullptr;
  int exitCode_ = 0;
};

// The framework's standard Help command.
constexpr UINT kCommandHelp = 0xE146;
