/*
 * Syslog trace of the engine: every line starts "eZorvel(<kernel thread id>) ", so
 * that the lines of the host's threads can be told apart.
 */
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include <sys/syscall.h>
#include <unistd.h>

#include <openssl/bio.h>

#include "e_zorvel_internal.h"

namespace {

int zorvel_thread_id(void)
{
    return static_cast<int>(syscall(SYS_gettid));
}

/* 1 when syslog's current mask lets the priority through (setlogmask(0) only reads it). */
int zorvel_log_enabled(int priority)
{
    return (setlogmask(0) & LOG_MASK(LOG_PRI(priority))) != 0;
}

}  // namespace

void zorvel_open_log(void)
{
    openlog(nullptr, LOG_PID | LOG_CONS | LOG_NDELAY, LOG_LOCAL1);
}

void zorvel_log(int priority, const char *format, ...)
{
    if (!zorvel_log_enabled(priority))
        return;

    char line[512];
    int prefix = std::snprintf(line, sizeof line, "eZorvel(%i) ", zorvel_thread_id());
    va_list args;
    va_start(args, format);
    int length = std::vsnprintf(line + prefix, sizeof line - prefix, format, args);
    va_end(args);
    if (length < 0)
        return;
    if (static_cast<size_t>(length) < sizeof line - prefix) {
        syslog(priority, "%s", line);
        return;
    }

    /* Longer than the stack buffer (a long path): format again into one that fits. */
    size_t size = static_cast<size_t>(prefix) + static_cast<size_t>(length) + 1;
    char *longer = static_cast<char *>(std::malloc(size));
    if (longer == nullptr) {
        syslog(priority, "%s", line);
        return;
    }
    std::snprintf(longer, size, "%.*s", prefix, line);
    va_start(args, format);
    std::vsnprintf(longer + prefix, size - prefix, format, args);
    va_end(args);
    syslog(priority, "%s", longer);
    std::free(longer);
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
