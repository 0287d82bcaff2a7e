#pragma once
// Small helpers shared by the benchmarks.

#include <QTemporaryDir>
#include <QtGlobal>

namespace orvex::bench {

// Points XDG_STATE_HOME at a folder of its own for as long as it lives, so the
// windows measured keep their session journals there, never in the user's (and
// never offer a journal left by a killed run).
class TScratchStateHome {
  public:
    TScratchStateHome() { qputenv("XDG_STATE_HOME", dir_.path().toLocal8Bit()); }

  private:
    QTemporaryDir dir_;
};

} // namespace orvex::bench
