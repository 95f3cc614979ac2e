// Records what the process sends to syslog instead of sending it. Linked into a test
// program, the library's openlog, setlogmask and syslog take the place of the C
// library's for every library the program loads, the engine included.
#ifndef ZORVEL_TESTS_SYSLOG_CAPTURE_H
#define ZORVEL_TESTS_SYSLOG_CAPTURE_H

#include <string>
#include <vector>

namespace syslog_capture {

struct line {
    int priority;
    std::string text;
};

struct open_call {
    int option;
    int facility;
};

// Forgets every record and sets the mask back to all priorities.
void reset();

// Counts every line recorded from now on that contains `text`, across resets (empty:
// stop counting).
void watch_for(const std::string &text);
int watched_lines();

std::vector<line> lines();
std::vector<open_call> open_calls();
// Masks given to setlogmask, in order (setlogmask(0) only reads and is not recorded).
std::vector<int> mask_calls();
int mask();

}  // namespace syslog_capture

#endif
