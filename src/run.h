// One run of the interpreter: read one expression, echo it, evaluate it and
// write the result. The program runs it once; the fuzzing harness runs it
// again and again in one process.
#pragma once

// Reads, echoes, evaluates and prints one expression from standard input, then
// ends the run through finish() (fail.h), as errors and the end of the input
// do from wherever they happen.
[[noreturn]] void runOnce();

// Puts the interpreter back into the state it starts in: no bindings, no
// frames, no values made by a run, names numbered from the start again. Only
// in a build made with VELLUMARK_IN_PROCESS, for a process that runs many
// programs; it must be called once before the first run, and every value of
// the last run is gone after it.
void resetForNextRun();
