// Runs the host thread's timers for a while. The factory checks idle modules
// from a thread timer; on Linux a timer runs only while its thread pumps, as
// on Windows it runs only while the thread dispatches messages.
#ifndef PEXIL_EXAMPLES_HOST_TIMER_PUMP_H
#define PEXIL_EXAMPLES_HOST_TIMER_PUMP_H

namespace example {

// Pumps for the given time, printing when timer procedures ran; returns how
// many ran.
int PumpTimers(unsigned int milliseconds);

}  // namespace example

#endif
