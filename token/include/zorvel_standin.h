// Test hooks of the stand-in token library, beyond the vendor interface.
//
// The stand-in's C_GetZorvelFunctionList hands out a CK_ZORVEL_FUNCTION_LIST that is the
// first member of the larger record below; programs written for the real library see
// only the vendor record. Only our own tests use the extra entries.
#ifndef ZORVEL_STANDIN_H
#define ZORVEL_STANDIN_H

#include "zorvel_p11.h"

extern "C" {

struct ZorvelStandinFunctionList {
  CK_ZORVEL_FUNCTION_LIST vendor;
  // Provoked exchange failures consumed (absorbed or surfaced) since the process started.
  CK_ULONG (*failedExchangeCount)(void);
};

}

// The stand-in's extended list behind a vendor list pointer it handed out.
inline const ZorvelStandinFunctionList *zorvelStandinList(const CK_ZORVEL_FUNCTION_LIST *vendor) {
  return reinterpret_cast<const ZorvelStandinFunctionList *>(vendor);
}

#endif
