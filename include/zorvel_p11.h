/*
 * Extensions of the token library libzorvelP11 beyond the standard PKCS#11 interface:
 * HSM selection, a provoked communication failure, and the vendor function list through
 * which the library is initialised from a configuration file.
 */
#ifndef ZORVEL_P11_H
#define ZORVEL_P11_H

#include <stddef.h>

#include "pkcs11.h"

#ifndef __cplusplus
#include <stdbool.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct CK_ZORVEL_FUNCTION_LIST {
  CK_VERSION version;
  /* Fills the standard function list. */
  CK_RV (*C_GetFunctionList)(CK_FUNCTION_LIST_PTR_PTR ppFunctionList);
  CK_RV (*C_Finalize)(CK_VOID_PTR pReserved);
  /* Initialises the library from the configuration file at configPath. */
  CK_RV (*C_Initialize)(const char *configPath);
} CK_ZORVEL_FUNCTION_LIST;
typedef CK_ZORVEL_FUNCTION_LIST *CK_ZORVEL_FUNCTION_LIST_PTR;
typedef CK_ZORVEL_FUNCTION_LIST_PTR *CK_ZORVEL_FUNCTION_LIST_PTR_PTR;

/* Callers bind these two entries by their offsets. */
ZORVEL_P11_STATIC_ASSERT(offsetof(CK_ZORVEL_FUNCTION_LIST, C_GetFunctionList) == 8,
                         "CK_ZORVEL_FUNCTION_LIST.C_GetFunctionList must be at offset 8");
ZORVEL_P11_STATIC_ASSERT(offsetof(CK_ZORVEL_FUNCTION_LIST, C_Initialize) == 24,
                         "CK_ZORVEL_FUNCTION_LIST.C_Initialize must be at offset 24");

/* Fills *ppFunctionList with the vendor function list. */
CK_RV C_GetZorvelFunctionList(CK_ZORVEL_FUNCTION_LIST_PTR_PTR ppFunctionList);

/* Selects HSM number hsm (0 is the default); called before initialisation. */
void setHSM(unsigned int hsm);

/* With true, makes the next exchange with the HSM fail; false disarms it. */
void provokeCommunicationFail(bool fail);

#ifdef __cplusplus
}
#endif

#endif /* ZORVEL_P11_H */
