// Named manual-reset events: the only agreement between the stop button and
// the conversion worker ("eventAbort1", "eventDone1").
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

class CManualResetEvent {
 public:
  void Set();
  void Reset();
  bool IsSet() const;
  // Waits until the event is set or the time-out passes; true when set.
  bool Wait(std::chrono::milliseconds timeout) const;
  void Wait() const;

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable cv_;
  bool signalled_ = false;
};

// The process-wide event of that name, created non-signalled on first use and
// kept until the process ends.
CManualResetEvent& NamedEvent(const std::string& name);

inline constexpr const char* kEventDone = "eventDone1";
inline constexpr const char* kEventAbort = "eventAbort1";
