// The OpenSSL of the core's namespace (the backend's libcrypto, which the core shares).
#ifndef ZORVEL_TOKEN_CORE_SUPPORT_NAMESPACE_OPENSSL_H
#define ZORVEL_TOKEN_CORE_SUPPORT_NAMESPACE_OPENSSL_H

namespace zorvel::core {

// Keeps the application's OpenSSL configuration (OPENSSL_CONF, openssl.cnf) out of the
// namespace's libcrypto. Read there, its engine section would load the engine that
// loaded this library into the namespace, which loads the token library again, which
// opens a further namespace, and so on until the thread keys run out. Must run before
// anything in the namespace initialises libcrypto.
void keepApplicationOpensslConfigOut();

}  // namespace zorvel::core

#endif
