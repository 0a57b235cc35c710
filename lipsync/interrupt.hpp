// Stop signals (SIGTERM, SIGINT, SIGHUP) while lipsync runs: the temporary file of the VLP
// being written is removed and the program exits with 128 + the signal number, so that a
// caller that stops it never finds a stray file and never mistakes the stop for success.
#pragma once

#include <csignal>
#include <string>

namespace tarvik::lipsync {

// Installs the handlers, except for signals the caller made ignored; the program calls it
// once at start.
void install_stop_handlers();

// Holds stop signals off for its lifetime (they are handled when it ends). Creating a
// temporary file and registering its guard, or renaming it and dropping the guard, happen
// under one, so that a signal never finds a file that is not registered, nor removes a
// name that another program may have taken since.
class StopSignalsHeld {
  public:
    StopSignalsHeld();
    ~StopSignalsHeld();
    StopSignalsHeld(const StopSignalsHeld&) = delete;
    StopSignalsHeld& operator=(const StopSignalsHeld&) = delete;

  private:
    sigset_t previous_;
};

// While a guard lives, a stop signal removes the file `path` names; the string must
// outlive the guard.
class TempFileGuard {
  public:
    explicit TempFileGuard(const std::string& path);
    ~TempFileGuard();
    TempFileGuard(const TempFileGuard&) = delete;
    TempFileGuard& operator=(const TempFileGuard&) = delete;
};

} // namespace tarvik::lipsync
