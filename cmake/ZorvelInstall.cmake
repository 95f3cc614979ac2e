# Where `cmake --install` puts what the build makes (GNUInstallDirs, below the prefix):
#   bin/p11suite
#   <engines folder>/zorvel.so        the engine, by the name `-engine zorvel` finds
#   <libdir>/zorvel/libzorvelP11.so   the stand-in token and its core, in a folder of
#   <libdir>/zorvel/libzorvelP11core.so  their own: never on the loader's path, where they
#                                     would shadow a real token library
#   <docdir>/zorvel.cfg               a sample engine configuration
# No installed binary holds a path into the build tree.

# OpenSSL's engines folder: libcrypto's `enginesdir`, relative to the prefix where it lies
# below it (a prefix of /usr gives lib/x86_64-linux-gnu/engines-3), else the folder of the
# same name below the library folder (a prefix of /usr/local gives lib/engines-3).
pkg_get_variable(ZORVEL_LIBCRYPTO_ENGINESDIR libcrypto enginesdir)
if(NOT ZORVEL_LIBCRYPTO_ENGINESDIR)
  set(ZORVEL_LIBCRYPTO_ENGINESDIR ${CMAKE_INSTALL_LIBDIR}/engines-3)
endif()
file(RELATIVE_PATH engines_below_prefix ${CMAKE_INSTALL_PREFIX} ${ZORVEL_LIBCRYPTO_ENGINESDIR})
if(IS_ABSOLUTE ${ZORVEL_LIBCRYPTO_ENGINESDIR} AND NOT engines_below_prefix MATCHES "^\\.\\./")
  set(engines_default ${engines_below_prefix})
else()
  get_filename_component(engines_name ${ZORVEL_LIBCRYPTO_ENGINESDIR} NAME)
  set(engines_default ${CMAKE_INSTALL_LIBDIR}/${engines_name})
endif()
set(ZORVEL_INSTALL_ENGINESDIR ${engines_default} CACHE STRING
    "Folder the engine is installed in, relative to the prefix (or absolute)")
set(ZORVEL_INSTALL_STANDINDIR ${CMAKE_INSTALL_LIBDIR}/zorvel CACHE STRING
    "Folder the stand-in token library and its core are installed in, relative to the prefix")
