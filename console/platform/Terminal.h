#pragma once

namespace sigrun::platform {

bool IsOutputTerminal();
bool IsErrorTerminal();

// When standard input is a terminal: shows a prompt on standard output and waits for one key,
// or for a stop signal (StopSignal() then tells which). Scripted runs (input from a pipe or a
// file) never wait and print nothing.
void PauseForKey();

// Seconds on a steady clock, for pacing screen updates.
double SteadySeconds();

} // namespace sigrun::platform
