#pragma once

namespace sigrun {

// The dialogue: reports the WAV file named by the last argument, offers the modes, asks the
// chosen mode's values on stdin and processes the file into the output named after it. Answers
// are read as whole lines; a refused answer ends the run with kExitUsage, a file that cannot be
// read, processed or written with kExitFailed. Result: the exit status.
int RunDialogue(int argc, char** argv);

} // namespace sigrun
