// pthread_key_create for everything loaded into the core's namespace.
//
// The namespace's C library numbers its keys on its own, but the values live in the
// thread descriptor that it shares with the application (thread_keys.h). Only the
// first-level keys set aside for the namespace are safe; once they are used up, the C
// library would hand out a second-level key whose slot the application may use as well,
// and each side would read the other's values. Such a key is refused instead, so that
// the caller in the namespace sees a failure and the application's values stay intact.
//
// The core is the first object of its namespace, so every object loaded there (the
// backend module, libcrypto) binds pthread_key_create to this definition.
#include "thread_keys.h"

#include <dlfcn.h>
#include <pthread.h>

#include <atomic>
#include <cerrno>
#include <cstdio>

namespace {

using KeyCreate = int (*)(pthread_key_t *, void (*)(void *));

KeyCreate cLibraryKeyCreate() {
  static const KeyCreate create = reinterpret_cast<KeyCreate>(dlsym(RTLD_NEXT, "pthread_key_create"));
  return create;
}

void reportRefusal() {
  static std::atomic<bool> reported{false};
  if (reported.exchange(true)) return;
  std::fprintf(stderr,
               "libzorvelP11: the token backend has used up its thread keys; the application held too many "
               "when the library was first used\n");
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int pthread_key_create(pthread_key_t *key,
                                                                         void (*destructor)(void *)) {
  const KeyCreate create = cLibraryKeyCreate();
  if (create == nullptr) return EAGAIN;
  const int rc = create(key, destructor);
  if (rc != 0 || *key < zorvel::kFirstLevelKeys) return rc;
  pthread_key_delete(*key);
  if (!zorvel::t_takingFreeKeys) reportRefusal();
  return EAGAIN;
}
