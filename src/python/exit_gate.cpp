#include "python/exit_gate.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <new>
#include <thread>

#include "python/ref.h"

namespace tarnwick::py {

class ExitGate {
 public:
  // Called outside. False: the gate is closed and the caller must never
  // take the lock. The thread that closed it goes on finalizing the
  // interpreter (an atexit callback or a finalizer may still expand).
  bool arrive() {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (closed_ && std::this_thread::get_id() != closer_) return false;
    ++arriving_;
    return true;
  }
  // Called inside, once an arrived thread has the lock.
  void arrived() {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (--arriving_ == 0) all_arrived_.notify_all();
  }
  // Called inside, before finalization begins. Time: until every thread
  // that arrived has had the lock once (each gets it as soon as this one
  // lets it go).
  void close() {
    std::unique_lock<std::mutex> lock(mutex_);
    closed_ = true;
    closer_ = std::this_thread::get_id();
    if (arriving_ == 0) return;
    lock.unlock();
    PyThreadState* saved = PyEval_SaveThread();
    lock.lock();
    all_arrived_.wait(lock, [this] { return arriving_ == 0; });
    lock.unlock();
    PyEval_RestoreThread(saved);
  }

 private:
  std::mutex mutex_;
  std::condition_variable all_arrived_;
  std::size_t arriving_ = 0;
  bool closed_ = false;
  std::thread::id closer_;
};

namespace {

// The thread stays outside until the process ends: nothing on its stack is
// unwound or released, and no Python code runs.
[[noreturn]] void park_for_good() {
  for (;;) std::this_thread::sleep_for(std::chrono::hours(24));
}

ExitGateState& state_of(PyObject* module) {
  return *static_cast<ExitGateState*>(PyModule_GetState(module));
}

PyObject* close_gate(PyObject* module, PyObject*) {
  if (auto* gate = state_of(module).gate) (*gate)->close();
  Py_RETURN_NONE;
}

PyMethodDef kCloseDef = {"_close_exit_gate", close_gate, METH_NOARGS,
                         "Lets no thread take the interpreter lock back once the interpreter exits."};

}  // namespace

void LockRelease::release() { saved_ = PyEval_SaveThread(); }

void LockRelease::reacquire() {
  if (!gate_->arrive()) park_for_good();
  PyEval_RestoreThread(saved_);
  gate_->arrived();
}

int exit_gate_init(PyObject* module) {
  try {
    state_of(module).gate = new std::shared_ptr<ExitGate>(std::make_shared<ExitGate>());
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
    return -1;
  }
  Ref name(PyModule_GetNameObject(module));
  Ref close(name ? PyCFunction_NewEx(&kCloseDef, module, name.get()) : nullptr);
  Ref atexit(close ? PyImport_ImportModule("atexit") : nullptr);
  Ref registered(atexit ? PyObject_CallMethod(atexit.get(), "register", "O", close.get()) : nullptr);
  return registered ? 0 : -1;
}

void exit_gate_free(void* module) {
  auto& state = state_of(static_cast<PyObject*>(module));
  delete state.gate;
  state.gate = nullptr;
}

std::shared_ptr<ExitGate> exit_gate(PyObject* module) {
  auto* gate = is_own_module(module) ? state_of(module).gate : nullptr;
  return gate ? *gate : std::make_shared<ExitGate>();  // (only before exec or after m_free)
}

}  // namespace tarnwick::py
