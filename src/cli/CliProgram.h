#pragma once

namespace quaddle {

// Whether the only word is "--version"; prints the program's name and version if so.
bool printedVersion(int argc, char** argv);

// The run without windows of the words from argv[first] on: makes the application object the run
// needs, then uploads as runCli does, and returns the exit status. Sets up nothing else of the
// process (signals, core dumps): main does.
int runWithoutWindows(int argc, char** argv, int first);

} // namespace quaddle
