// A mutex over a Win32 critical section. The emulation is also built into a
// program made with the win32 thread model, whose C++ library (GCC 12) has
// no std::mutex.
#pragma once

#include <windows.h>

namespace qvx::emu {

class CriticalSection {
  public:
    CriticalSection() {
        InitializeCriticalSection(&cs_);
    }
    ~CriticalSection() {
        DeleteCriticalSection(&cs_);
    }
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

    void lock() {
        EnterCriticalSection(&cs_);
    }
    void unlock() {
        LeaveCriticalSection(&cs_);
    }

  private:
    CRITICAL_SECTION cs_;
};

// Holds a critical section for the life of a scope.
class Locked {
  public:
    explicit Locked(CriticalSection& cs) : cs_(cs) {
        cs_.lock();
    }
    ~Locked() {
        cs_.unlock();
    }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

  private:
    CriticalSection& cs_;
};

} // namespace qvx::emu
