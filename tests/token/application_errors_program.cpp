// Uses the stand-in, so that its namespace's C library runs, then reads uninitialised
// memory on purpose: in this program's own code and inside the application's C library.
// Run under valgrind with the stand-in's suppressions (valgrind_reports_application.sh),
// valgrind must report these reads and nothing else.
#include "standin_test_support.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool useTheToken() {
  using namespace zorvel::test;
  CK_FUNCTION_LIST_PTR f = functionList();
  CK_C_INITIALIZE_ARGS args = osLockingArgs();
  if (f->C_Initialize(&args) != CKR_OK) return false;
  CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
  CK_BYTE random[16];
  CK_MECHANISM digest = {CKM_SHA256, nullptr, 0};
  CK_BYTE data[] = {'a', 'b', 'c'};
  CK_BYTE hash[32];
  CK_ULONG hashLength = sizeof hash;
  const bool used = openUserSession(f, &session) == CKR_OK &&
                    f->C_GenerateRandom(session, random, sizeof random) == CKR_OK &&
                    f->C_DigestInit(session, &digest) == CKR_OK &&
                    f->C_Digest(session, data, sizeof data, hash, &hashLength) == CKR_OK &&
                    f->C_CloseSession(session) == CKR_OK;
  return f->C_Finalize(nullptr) == CKR_OK && used;
}

// The names below are what the check looks for in valgrind's report.

// A NUL-terminated block whose other bytes were never written.
__attribute__((noinline)) char *uninitialisedBytes(std::size_t size) {
  char *block = static_cast<char *>(std::malloc(size));
  if (block != nullptr) block[size - 1] = '\0';
  return block;
}

// A branch in this program's own code on bytes the C library copied.
__attribute__((noinline)) void branchInOwnCode(const char *bytes) {
  char copy[8];
  std::memcpy(copy, bytes, sizeof copy);
  if (copy[0] == 'x') std::puts("x");
}

// Branches and a table look-up inside the C library, which parses the bytes.
__attribute__((noinline)) void parseWithTheCLibrary(const char *bytes) {
  volatile long parsed = std::strtol(bytes, nullptr, 10);
  static_cast<void>(parsed);
}

}  // namespace

int main() {
  if (!useTheToken()) {
    std::fprintf(stderr, "application_errors_program: the token could not be used\n");
    return 2;
  }
  char *bytes = uninitialisedBytes(16);
  if (bytes == nullptr) return 2;
  branchInOwnCode(bytes);
  parseWithTheCLibrary(bytes);
  std::free(bytes);
  return 0;
}
