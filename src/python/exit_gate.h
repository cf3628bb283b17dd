// Taking the interpreter lock back after a blocking call, safely while the
// interpreter shuts down.
//
// From 3.10 to 3.13 a thread that asks for the lock once finalization has
// begun is ended by the interpreter with a forced unwind through every C++
// frame on its stack; a destructor that asks for the lock again on the way
// up starts a second unwind, and the process aborts. The gate keeps threads
// from ever asking that late: the module's atexit callback (run before
// finalization begins, with the lock held) closes the gate and waits, with
// the lock let go, for the threads already asking to get it. A thread that
// finds the gate closed parks for good without running any Python code or
// unwinding anything; the process ends around it, leaking what it holds.
#pragma once

#include <Python.h>

#include <memory>

namespace tarnwick::py {

class ExitGate;

// What a blocking call holds while it is outside: its thread state and the
// gate of the module that made the call.
class LockRelease {
 public:
  explicit LockRelease(std::shared_ptr<ExitGate> gate) : gate_(std::move(gate)) {}
  // Called inside: lets the interpreter lock go.
  void release();
  // Called outside: takes it back, or never returns once the gate closed.
  void reacquire();

 private:
  std::shared_ptr<ExitGate> gate_;
  PyThreadState* saved_ = nullptr;
};

// For module.cpp: the state one module object keeps, set up by its exec
// step (which registers the atexit callback) and released by its m_free.
struct ExitGateState {
  std::shared_ptr<ExitGate>* gate = nullptr;
};
int exit_gate_init(PyObject* module);
void exit_gate_free(void* module);
// The gate of `module`; a gate that never closes when `module` is not this
// extension's module object (a function called without one).
std::shared_ptr<ExitGate> exit_gate(PyObject* module);
// True when `object` is a module object made from this extension's definition.
bool is_own_module(PyObject* object);

}  // namespace tarnwick::py
