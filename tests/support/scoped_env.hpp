#pragma once

#include <cstdlib>
#include <optional>
#include <string>
#include <utility>

// Sets or clears one environment variable for a scope and puts the old value back.
class ScopedEnv {
 public:
  explicit ScopedEnv(std::string name) : name_(std::move(name)) {
    if (const char* old = std::getenv(name_.c_str())) old_ = old;
  }
  ScopedEnv(std::string name, const std::optional<std::string>& value) : ScopedEnv(std::move(name)) {
    if (value) {
      set(*value);
    } else {
      unset();
    }
  }
  ~ScopedEnv() {
    if (old_) {
      ::setenv(name_.c_str(), old_->c_str(), 1);
    } else {
      ::unsetenv(name_.c_str());
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

  void set(const std::string& value) { ::setenv(name_.c_str(), value.c_str(), 1); }
  void unset() { ::unsetenv(name_.c_str()); }

 private:
  std::string name_;
  std::optional<std::string> old_;
};
