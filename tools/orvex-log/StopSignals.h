#pragma once
// The signals that end a run cleanly: Ctrl-C (SIGINT), SIGTERM (a service
// stopped) and SIGHUP (the terminal or ssh session closed). Each ends the run
// the way --seconds does, so the table file and the report are written.

namespace orvex {

// Installs the handlers on the first call; the descriptor that becomes
// readable once one of the signals came (-1 when no pipe could be made).
// Live inputs and streams watch it; --sample and --hid-replay run to their end.
int StopSignalDescriptor();

} // namespace orvex
