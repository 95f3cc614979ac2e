// Syslog trace of the engine: every line starts "eZorvel(<kernel thread id>) ", so
// that the lines of the host's threads can be told apart.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include <sys/syscall.h>
#include <unistd.h>

#include <pthread.h>

#include <openssl/bio.h>

#include "e_zorvel_internal.h"

namespace {

// Held around every call of the C library's syslog functions (setlogmask included), so
// that a fork never happens while an engine thread holds the C library's syslog lock.
pthread_mutex_t log_lock = PTHREAD_MUTEX_INITIALIZER;

int zorvel_thread_id(void)
{
    return static_cast<int>(syscall(SYS_gettid));
}

// 1 when syslog's current mask lets the priority through (setlogmask(0) only reads it).
int zorvel_log_enabled(int priority)
{
    return (setlogmask(0) & LOG_MASK(LOG_PRI(priority))) != 0;
}

// syslog under the log lock.
void zorvel_syslog_line(int priority, const char *line)
{
    pthread_mutex_lock(&log_lock);
    syslog(priority, "%s", line);
    pthread_mutex_unlock(&log_lock);
}

// Formats one line (outside the log lock, so that threads format at once) and writes it.
void zorvel_write_line(int priority, const char *format, va_list args)
{
    char line[512];
    int prefix = std::snprintf(line, sizeof line, "eZorvel(%i) ", zorvel_thread_id());
    va_list again;
    va_copy(again, args);
    int length = std::vsnprintf(line + prefix, sizeof line - prefix, format, args);
    if (length >= 0 && static_cast<size_t>(length) < sizeof line - prefix) {
        zorvel_syslog_line(priority, line);
    } else if (length >= 0) {
        // Longer than the stack buffer (a long path): format again into one that fits.
        size_t size = static_cast<size_t>(prefix) + static_cast<size_t>(length) + 1;
        char *longer = static_cast<char *>(std::malloc(size));
        if (longer == nullptr) {
            zorvel_syslog_line(priority, line);
        } else {
            std::snprintf(longer, size, "%.*s", prefix, line);
            std::vsnprintf(longer + prefix, size - prefix, format, again);
            zorvel_syslog_line(priority, longer);
            std::free(longer);
        }
    }
    va_end(again);
}

}  // namespace

void zorvel_open_log(void)
{
    pthread_mutex_lock(&log_lock);
    openlog(nullptr, LOG_PID | LOG_CONS | LOG_NDELAY, LOG_LOCAL1);
    pthread_mutex_unlock(&log_lock);
}

void zorvel_set_log_mask(int mask)
{
    pthread_mutex_lock(&log_lock);
    setlogmask(mask);
    pthread_mutex_unlock(&log_lock);
}

void zorvel_log_before_fork(void)
{
    pthread_mutex_lock(&log_lock);
}

void zorvel_log_after_fork(int child)
{
    if (child)
        pthread_mutex_init(&log_lock, nullptr);
    else
        pthread_mutex_unlock(&log_lock);
}

void zorvel_log(int priority, const char *format, ...)
{
    pthread_mutex_lock(&log_lock);
    int enabled = zorvel_log_enabled(priority);
    pthread_mutex_unlock(&log_lock);
    if (!enabled)
        return;
    va_list args;
    va_start(args, format);
    zorvel_write_line(priority, format, args);
    va_end(args);
}

void zorvel_tell(int priority, const char *format, ...)
{
    // Whole, however long (a library path may take PATH_MAX bytes and the loader's reason
    // repeats it); cut to the stack buffer only when no memory is left for it.
    va_list args, again;
    va_start(args, format);
    va_copy(again, args);
    char *whole = nullptr;
    char cut[1024];
    if (vasprintf(&whole, format, args) < 0) {
        whole = nullptr;
        std::vsnprintf(cut, sizeof cut, format, again);
    }
    va_end(again);
    va_end(args);
    const char *line = whole != nullptr ? whole : cut;
    zorvel_print_stderr("eZorvel: %s\n", line);
    zorvel_log(priority, "%s", line);
    std::free(whole);
}

void zorvel_print_stderr(const char *format, ...)
{
    BIO *err = BIO_new_fp(stderr, BIO_NOCLOSE);
    if (err == nullptr)
        return;
    va_list args;
    va_start(args, format);
    BIO_vprintf(err, format, args);
    va_end(args);
    BIO_free(err);
}
