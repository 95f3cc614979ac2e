#include "syslog_capture.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

#include <syslog.h>

namespace {

std::mutex records_mutex;
std::vector<syslog_capture::line> records;
std::vector<syslog_capture::open_call> opens;
std::vector<int> masks;
int current_mask = 0xFF;
std::string watched_text;
int watched_count = 0;

void record(int priority, const char *format, va_list args)
{
    va_list copy;
    va_copy(copy, args);
    int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    if (length > 0)
        std::vsnprintf(&text[0], text.size() + 1, format, args);
    std::lock_guard<std::mutex> guard(records_mutex);
    if (!watched_text.empty() && text.find(watched_text) != std::string::npos)
        ++watched_count;
    records.push_back({priority, text});
}

}  // namespace

namespace syslog_capture {

void reset()
{
    std::lock_guard<std::mutex> guard(records_mutex);
    records.clear();
    opens.clear();
    masks.clear();
    current_mask = 0xFF;
}

void watch_for(const std::string &text)
{
    std::lock_guard<std::mutex> guard(records_mutex);
    watched_text = text;
    watched_count = 0;
}

int watched_lines()
{
    std::lock_guard<std::mutex> guard(records_mutex);
    return watched_count;
}

std::vector<line> lines()
{
    std::lock_guard<std::mutex> guard(records_mutex);
    return records;
}

std::vector<open_call> open_calls()
{
    std::lock_guard<std::mutex> guard(records_mutex);
    return opens;
}

std::vector<int> mask_calls()
{
    std::lock_guard<std::mutex> guard(records_mutex);
    return masks;
}

int mask()
{
    std::lock_guard<std::mutex> guard(records_mutex);
    return current_mask;
}

}  // namespace syslog_capture

extern "C" {

void openlog(const char *, int option, int facility)
{
    std::lock_guard<std::mutex> guard(records_mutex);
    opens.push_back({option, facility});
}

void closelog(void) {}

int setlogmask(int mask)
{
    std::lock_guard<std::mutex> guard(records_mutex);
    int previous = current_mask;
    if (mask != 0) {
        current_mask = mask;
        masks.push_back(mask);
    }
    return previous;
}

void vsyslog(int priority, const char *format, va_list args)
{
    record(priority, format, args);
}

void syslog(int priority, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    record(priority, format, args);
    va_end(args);
}

void __syslog_chk(int priority, int, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    record(priority, format, args);
    va_end(args);
}

void __vsyslog_chk(int priority, int, const char *format, va_list args)
{
    record(priority, format, args);
}

}  // extern "C"
