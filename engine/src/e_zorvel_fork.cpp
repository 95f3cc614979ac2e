// The token lock and the fork handlers. A fork while other threads are inside the engine
// must not leave the child a lock held by a thread it does not have: the engine lock,
// the token library's own locks (reached only through token calls) and the C library's
// syslog lock (reached only through the log lock). Before fork the handlers take all
// three of the engine's locks, in the order in which the engine nests them; the parent
// releases them, the child makes them fresh.
#include <atomic>

#include <pthread.h>
#include <unistd.h>

#include "e_zorvel_internal.h"

namespace {

// Writers first: with eight threads always inside some token call a reader-first lock
// would never let the fork handler in. Non-recursive, so a thread never takes it twice.
pthread_rwlock_t token_lock = PTHREAD_RWLOCK_WRITER_NONRECURSIVE_INITIALIZER_NP;

int engine_lock_held = 0;
bool installed = false;

// The process id once the handlers are installed, kept by the child's handler: getpid is
// a system call, and every operation asks whether the context is this process's.
std::atomic<pid_t> process_id{0};

// Token calls under way in this thread. A token library that forks inside one of its
// calls (to start a helper) runs the handlers on a thread that holds the token lock, and
// the engine lock too while the context opens: the handlers leave every lock as it is
// then, and the library's child goes on inside the call as the parent does.
thread_local int token_calls = 0;
thread_local bool forked_inside_token_call = false;

void fresh_token_lock(void)
{
    pthread_rwlockattr_t attr;
    pthread_rwlockattr_init(&attr);
    pthread_rwlockattr_setkind_np(&attr, PTHREAD_RWLOCK_PREFER_WRITER_NONRECURSIVE_NP);
    pthread_rwlock_init(&token_lock, &attr);
    pthread_rwlockattr_destroy(&attr);
}

extern "C" void zorvel_before_fork(void)
{
    forked_inside_token_call = token_calls > 0;
    if (forked_inside_token_call)
        return;
    engine_lock_held = zorvel_lock_before_fork();
    pthread_rwlock_wrlock(&token_lock);
    zorvel_log_before_fork();
}

extern "C" void zorvel_after_fork_parent(void)
{
    if (forked_inside_token_call)
        return;
    zorvel_log_after_fork(0);
    pthread_rwlock_unlock(&token_lock);
    if (engine_lock_held)
        zorvel_lock_after_fork(0);
}

// The rwlock records its writer by thread id, which the child's one thread does not
// have: the child starts every lock afresh instead of unlocking it. The digest sessions
// are the parent's: the child forgets them before any call (a digest context freed
// before the child's first operation included).
extern "C" void zorvel_after_fork_child(void)
{
    process_id = getpid();
    if (forked_inside_token_call)
        return;
    zorvel_log_after_fork(1);
    fresh_token_lock();
    if (engine_lock_held)
        zorvel_lock_after_fork(1);
    zorvel_digest_drop_sessions(0);
}

}  // namespace

void zorvel_token_enter(void)
{
    pthread_rwlock_rdlock(&token_lock);
    ++token_calls;
}

void zorvel_token_leave(void)
{
    --token_calls;
    pthread_rwlock_unlock(&token_lock);
}

void zorvel_fork_guard_install(void)
{
    // The C library drops the handlers when this library is unloaded.
    if (!installed && pthread_atfork(zorvel_before_fork, zorvel_after_fork_parent, zorvel_after_fork_child) == 0) {
        process_id = getpid();
        installed = true;
    }
}

pid_t zorvel_process_id(void)
{
    pid_t pid = process_id.load(std::memory_order_relaxed);
    return pid != 0 ? pid : getpid();
}
