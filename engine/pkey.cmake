# The RSA key method (parameters, mechanisms, DigestInfo, operations), the token digests
# and the random-number method.

# What needs neither a token nor the engine core's functions: the parameter records,
# the mechanism builder and the DigestInfo encoding. The unit tests link it alone.
add_library(ezorvel_pkey_params STATIC
  src/e_zorvel_hash_table.cpp
  src/e_zorvel_pkey_params.cpp
  src/e_zorvel_pkey_mech.cpp
)
target_include_directories(ezorvel_pkey_params PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/src)
target_link_libraries(ezorvel_pkey_params PUBLIC zorvel_pkcs11_headers OpenSSL::Crypto)
target_compile_definitions(ezorvel_pkey_params PUBLIC OPENSSL_API_COMPAT=10100)

# The bytes a running digest keeps for a copy: they call nothing of the engine but its
# lock, which their unit test provides.
add_library(ezorvel_fed_bytes STATIC src/e_zorvel_fed_bytes.cpp)
target_include_directories(ezorvel_fed_bytes PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/src)
target_link_libraries(ezorvel_fed_bytes PUBLIC zorvel_pkcs11_headers OpenSSL::Crypto)
target_compile_definitions(ezorvel_fed_bytes PUBLIC OPENSSL_API_COMPAT=10100)

# The bind functions live here, in the library itself.
target_sources(ezorvel_objects PRIVATE
  src/e_zorvel_pkey.cpp
  src/e_zorvel_pkey_ops.cpp
  src/e_zorvel_pkey_soft.cpp
  src/e_zorvel_digest.cpp
  src/e_zorvel_rand.cpp
)
target_link_libraries(ezorvel_objects PUBLIC ezorvel_pkey_params ezorvel_fed_bytes)
# The benchmarks build on the tests' token keys.
if(BUILD_TESTING)
  add_subdirectory(bench)
endif()
