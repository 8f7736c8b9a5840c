#include "engine/events.h"

#include <map>
#include <memory>

void CManualResetEvent::Set() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    signalled_ = true;
  }
  cv_.notify_all();
}

void CManualResetEvent::Reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  signalled_ = false;
}

bool CManualResetEvent::IsSet() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return signalled_;
}

bool CManualResetEvent::Wait(std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return cv_.wait_for(lock, timeout, [this] { return signalled_; });
}

void CManualResetEvent::Wait() const {
  std::unique_lock<std::mutex> lock(mutex_);
  cv_.wait(lock, [this] { return signalled_; });
}

CManualResetEvent& NamedEvent(const std::string& name) {
  static std::mutex registryMutex;
  static std::map<std::string, std::unique_ptr<CManualResetEvent>> registry;
  std::lock_guard<std::mutex> lock(registryMutex);
  auto& slot = registry[name];
  if (!slot) slot = std::make_unique<CManualResetEvent>();
  return *slot;
}
