# Tests of the RSA key method, the DigestInfo encoding, the token digests and random
# numbers.

# Parameter records, controls, mechanism builder and DigestInfo: no token.
add_executable(engine_pkey_params_test test_pkey_params.cpp)
target_link_libraries(engine_pkey_params_test PRIVATE ezorvel_pkey_params GTest::gtest_main)
zorvel_add_test(NAME engine_pkey_params COMMAND $<TARGET_FILE:engine_pkey_params_test> VALGRIND)

# Against the stand-in with the engine variant that reads its configuration below the
# working directory (ezorvel_testroot).
add_library(engine_pkey_test_support STATIC rsa_engine_fixture.cpp rsa_token_keys.cpp)
target_compile_definitions(engine_pkey_test_support PUBLIC ZORVEL_TEST_TOKEN_LIBRARY="$<TARGET_FILE:zorvelP11>")
target_link_libraries(engine_pkey_test_support PUBLIC zorvel_engine_harness)
add_dependencies(engine_pkey_test_support zorvelP11)

# pkey_engine_test(<name> <source>...): a gtest program against the engine and the stand-in.
function(pkey_engine_test name)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE engine_pkey_test_support)
endfunction()

pkey_engine_test(engine_digest_rand_test test_digest_rand.cpp)
target_compile_definitions(engine_digest_rand_test PRIVATE ZORVEL_RSA_FAULT_TOKEN="$<TARGET_FILE:zorvel_rsa_fault_token>")
add_dependencies(engine_digest_rand_test zorvel_rsa_fault_token)
# Each suite in a process of its own: registered digests keep the engine in OpenSSL's
# tables, so that a second engine of the same id cannot be loaded.
zorvel_add_test(NAME engine_digest_rand COMMAND $<TARGET_FILE:engine_digest_rand_test> --gtest_filter=EngineDigestTest.*
                TOKEN VALGRIND)
zorvel_add_test(NAME engine_digest_rand_faults
                COMMAND $<TARGET_FILE:engine_digest_rand_test> --gtest_filter=EngineDigestFaultsTest.* TOKEN VALGRIND)
zorvel_add_test(NAME engine_digest_rand_without_login
                COMMAND $<TARGET_FILE:engine_digest_rand_test> --gtest_filter=EngineWithoutLoginTest.* TOKEN)

pkey_engine_test(engine_pkey_ops_test test_pkey_ops.cpp)
zorvel_add_test(NAME engine_pkey_ops COMMAND $<TARGET_FILE:engine_pkey_ops_test> TOKEN VALGRIND)

# The openssl command line with the engine, as a user runs it.
zorvel_add_test(NAME engine_openssl_cli
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/openssl_cli_test.sh
          ${CMAKE_CURRENT_BINARY_DIR}/engines $<TARGET_FILE:zorvelP11>
  TOKEN DEPENDS ezorvel_testroot)

# Threads against the engine's own locking: the stand-in does not serialise.
pkey_engine_test(engine_pkey_threads_test test_pkey_threads.cpp)
zorvel_add_test(NAME engine_pkey_threads COMMAND $<TARGET_FILE:engine_pkey_threads_test> TOKEN
                ENVIRONMENT ZORVEL_P11_SERIALIZE_SESSIONS=0)
