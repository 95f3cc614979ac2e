#include "core_loader.h"

#include "thread_keys.h"

#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

namespace zorvel::thin {
namespace {

constexpr const char *kCoreFileName = "libzorvelP11core.so";

std::atomic<const ZorvelCoreInterface *> g_core{nullptr};
std::once_flag g_loadOnce;

// The folder this library was loaded from, with a trailing slash; empty when unknown.
std::string ownFolder() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void *>(&loadCore), &info) == 0 || info.dli_fname == nullptr) return {};
  std::string path = info.dli_fname;
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// ZORVEL_P11_CORE, else the core beside this library, else (the build tree's library,
// copied elsewhere) the core of the build tree it was built in. The installed library has
// no build tree to fall back on: it looks beside itself only.
std::string corePath() {
  if (const char *path = std::getenv("ZORVEL_P11_CORE"); path != nullptr && *path != '\0') return path;
  const std::string folder = ownFolder();
  const std::string beside = folder + kCoreFileName;
#ifdef ZORVEL_P11_CORE_BUILD_PATH
  if (folder.empty() || access(beside.c_str(), R_OK) != 0) return ZORVEL_P11_CORE_BUILD_PATH;
#endif
  return beside;
}

void giveBack(KeyMask keys) {
  for (pthread_key_t key = 0; key < kFirstLevelKeys; ++key) {
    if ((keys >> key) & 1u) pthread_key_delete(key);
  }
}

#if ZORVEL_STANDIN_OWN_NAMESPACE
// Keeps up to kNamespaceKeys of this side's free first-level keys taken for the core's
// namespace, the highest numbers first, and returns them as a mask; 0, with every key
// given back, when fewer than kMinNamespaceKeys are free.
KeyMask reserveNamespaceKeys() {
  const std::vector<pthread_key_t> taken = takeFreeFirstLevelKeys();
  if (taken.size() < kMinNamespaceKeys) {
    releaseKeys(taken, 0, /*inverted=*/true);
    std::fprintf(stderr,
                 "libzorvelP11: %zu of %u thread keys are free, the token backend needs %u; the application "
                 "holds the others\n",
                 taken.size(), kFirstLevelKeys, kMinNamespaceKeys);
    return 0;
  }
  KeyMask mask = 0;
  const std::size_t first = taken.size() > kNamespaceKeys ? taken.size() - kNamespaceKeys : 0;
  for (std::size_t i = first; i < taken.size(); ++i) mask |= KeyMask{1} << taken[i];
  releaseKeys(taken, mask, /*inverted=*/true);
  return mask;
}

// Loads the core into a link-map namespace of its own, with the thread keys that
// namespace may use set aside first; nullptr when either cannot be had.
void *openCore(const std::string &path, KeyMask &namespaceKeys) {
  // Before anything in the namespace can make a key.
  namespaceKeys = reserveNamespaceKeys();
  if (namespaceKeys == 0) return nullptr;
  void *handle = dlmopen(LM_ID_NEWLM, path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    std::fprintf(stderr, "libzorvelP11: cannot load %s: %s\n", path.c_str(), dlerror());
    giveBack(namespaceKeys);
  }
  return handle;
}
#else
// Loads the core into the application's namespace (the AddressSanitizer build: ASan
// cannot run inside another namespace). The backend then shares the application's C
// library and libcrypto, so no thread keys are set aside.
void *openCore(const std::string &path, KeyMask &namespaceKeys) {
  namespaceKeys = 0;
  void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) std::fprintf(stderr, "libzorvelP11: cannot load %s: %s\n", path.c_str(), dlerror());
  return handle;
}
#endif

void loadOnce() {
  const std::string path = corePath();
  KeyMask namespaceKeys = 0;
  void *handle = openCore(path, namespaceKeys);
  if (handle == nullptr) return;
  auto entry = reinterpret_cast<ZorvelCoreInterfaceFn>(dlsym(handle, ZORVEL_CORE_INTERFACE_SYMBOL));
  const ZorvelCoreInterface *core = entry != nullptr ? entry() : nullptr;
  if (core == nullptr || core->interfaceVersion != ZORVEL_CORE_INTERFACE_VERSION) {
    std::fprintf(stderr, "libzorvelP11: %s is not a matching core library\n", path.c_str());
    giveBack(namespaceKeys);
    return;
  }
  if (namespaceKeys != 0) core->adoptThreadKeys(namespaceKeys);
  g_core.store(core, std::memory_order_release);
}

}  // namespace

const ZorvelCoreInterface *loadCore() {
  std::call_once(g_loadOnce, loadOnce);
  return loadedCore();
}

const ZorvelCoreInterface *loadedCore() { return g_core.load(std::memory_order_acquire); }

}  // namespace zorvel::thin
