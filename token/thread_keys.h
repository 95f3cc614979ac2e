// Thread-specific data keys across link-map namespaces.
//
// Each copy of the C library numbers pthread keys on its own, but the values live in
// the thread's descriptor, which every copy shares: a key made inside the core's
// namespace gets the same number as one of the application's and overwrites its value.
// The first-level keys (those stored in the descriptor itself) are therefore split:
// libzorvelP11 picks free ones for the namespace and keeps them taken on its side, and
// the core keeps every other one taken on its side, so each side's new keys come from
// its own share.
#ifndef ZORVEL_TOKEN_THREAD_KEYS_H
#define ZORVEL_TOKEN_THREAD_KEYS_H

#include <pthread.h>

#include <cstdint>
#include <vector>

namespace zorvel {

// Keys a thread stores without a second-level block.
constexpr unsigned kFirstLevelKeys = 32;
// The most keys the namespace gets.
constexpr unsigned kNamespaceKeys = 16;
// The fewest it works with (measured: the backend and its libcrypto make 6 keys for an
// initialisation, a login, a signature and random numbers).
constexpr unsigned kMinNamespaceKeys = 8;

using KeyMask = std::uint32_t;

// True on a thread while it runs takeFreeFirstLevelKeys, which expects its last key to
// be past the first level (and, inside the namespace, to be refused).
inline thread_local bool t_takingFreeKeys = false;

// Takes every free first-level key of the calling side's C library and returns them.
inline std::vector<pthread_key_t> takeFreeFirstLevelKeys() {
  std::vector<pthread_key_t> taken;
  t_takingFreeKeys = true;
  for (;;) {
    pthread_key_t key;
    if (pthread_key_create(&key, nullptr) != 0) break;
    if (key >= kFirstLevelKeys) {
      pthread_key_delete(key);
      break;
    }
    taken.push_back(key);
  }
  t_takingFreeKeys = false;
  return taken;
}

// Gives back the taken keys that are in the mask (or, with inverted, that are not).
inline void releaseKeys(const std::vector<pthread_key_t> &taken, KeyMask mask, bool inverted) {
  for (const pthread_key_t key : taken) {
    const bool inMask = (mask >> key) & 1u;
    if (inMask != inverted) pthread_key_delete(key);
  }
}

}  // namespace zorvel

#endif
