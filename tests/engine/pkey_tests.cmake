# Tests of the RSA key method, the DigestInfo encoding, the token digests and random
# numbers.

# Parameter records, controls, mechanism builder and DigestInfo: no token.
add_executable(engine_pkey_params_test pkey_params_test.cpp)
target_link_libraries(engine_pkey_params_test PRIVATE ezorvel_pkey_params GTest::gtest_main)
zorvel_add_test(NAME engine_pkey_params COMMAND $<TARGET_FILE:engine_pkey_params_test> VALGRIND)

# The bytes a running digest keeps, with the engine lock counted by the test: no token.
add_executable(engine_fed_bytes_test fed_bytes_test.cpp)
target_link_libraries(engine_fed_bytes_test PRIVATE ezorvel_fed_bytes GTest::gtest_main)
zorvel_add_test(NAME engine_fed_bytes COMMAND $<TARGET_FILE:engine_fed_bytes_test> VALGRIND)

# pkey_engine_test(<name> <source>...): a gtest program against the engine and the stand-in.
function(pkey_engine_test name)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE zorvel_rsa_engine_fixture)
endfunction()

pkey_engine_test(engine_digest_rand_test digest_rand_test.cpp)
target_compile_definitions(engine_digest_rand_test PRIVATE ZORVEL_RSA_FAULT_TOKEN="$<TARGET_FILE:zorvel_rsa_fault_token>")
add_dependencies(engine_digest_rand_test zorvel_rsa_fault_token)
# Each suite in a process of its own: registered digests keep the engine in OpenSSL's
# tables, so that a second engine of the same id cannot be loaded.
engine_gtest_part(engine_digest_rand engine_digest_rand_test EngineDigestTest.* TOKEN VALGRIND)
engine_gtest_part(engine_digest_rand_faults engine_digest_rand_test EngineDigestFaultsTest.* TOKEN VALGRIND)
engine_gtest_part(engine_digest_rand_without_login engine_digest_rand_test EngineWithoutLoginTest.* TOKEN)

pkey_engine_test(engine_pkey_ops_test pkey_ops_test.cpp)
# One ctest per suite: each loads the engine and makes its keys, which under valgrind
# takes most of the suite's time.
engine_gtest_part(engine_pkey_ops_PkeyMethodTest engine_pkey_ops_test PkeyMethodTest.* TOKEN VALGRIND COST 90)
engine_gtest_part(engine_pkey_ops_PkeySignature engine_pkey_ops_test Modes/PkeySignature.* TOKEN VALGRIND COST 90)
engine_gtest_part(engine_pkey_ops_PkeyEncryption engine_pkey_ops_test Modes/PkeyEncryption.* TOKEN VALGRIND COST 90)

# The openssl command line with the engine, as a user runs it.
zorvel_add_test(NAME engine_openssl_cli
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/openssl_cli_test.sh
          ${CMAKE_CURRENT_BINARY_DIR}/engines $<TARGET_FILE:zorvelP11>
  TOKEN DEPENDS ezorvel_testroot)

# Threads against the engine's own locking: the stand-in does not serialise.
pkey_engine_test(engine_pkey_threads_test pkey_threads_test.cpp)
zorvel_add_test(NAME engine_pkey_threads COMMAND $<TARGET_FILE:engine_pkey_threads_test> TOKEN
                ENVIRONMENT ZORVEL_P11_SERIALIZE_SESSIONS=0)
