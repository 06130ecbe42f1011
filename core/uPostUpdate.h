#pragma once
// What the program does at start-up when the updater restarted it with "/postupdate".

#include <string>
#include <vector>

// With the arguments after the program name: when the first is exactly "/postupdate" and the
// second names an existing file, waits 2000 ms and deletes that file. Otherwise does
// nothing. Failures are silent.
void HandlePostUpdate(const std::vector<std::string>& arguments);
// The same for the program entry's own arguments (argv[0] is the program).
void HandlePostUpdate(int argc, const char* const* argv);
