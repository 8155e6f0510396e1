// Placeholder until the stack binding is built.
#include "hcrp/stack_binding.h"

StackBinding g_stackBinding;

StackBinding::StackBinding()
    : module(nullptr), libraryPath{}, qorlRegister(nullptr), qorlUnregister(nullptr),
      qorlConnect(nullptr), qorlDisconnect(nullptr), qorlSendData(nullptr) {}
StackBinding::~StackBinding() {}
int StackBinding::LoadQORLIB() { return module != nullptr ? 1 : 0; }
int StackBinding::Unload() { return 1; }
int StackBinding::GetDLLPathName() { return 0; }
int StackBinding::IsProcessRunning(const char*) { return 0; }
