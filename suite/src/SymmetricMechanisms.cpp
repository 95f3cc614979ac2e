#include "SymmetricMechanisms.h"

#include <algorithm>

#include "libC_GTest_Fixture.h"

namespace {

// The fixed bytes of the counter block, the GCM and GMAC IV and the GCM AAD.
const CK_BYTE COUNTER_BLOCK[16] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                                   0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xf0};
const CK_BYTE GCM_IV[12] = {0xca, 0xfe, 0xba, 0xbe, 0xfa, 0xce, 0xdb, 0xad, 0xde, 0xca, 0xf8, 0x88};
const CK_BYTE GCM_AAD[20] = {0xfe, 0xed, 0xfa, 0xce, 0xde, 0xad, 0xbe, 0xef, 0xfe, 0xed,
                             0xfa, 0xce, 0xde, 0xad, 0xbe, 0xef, 0xab, 0xad, 0xda, 0xd2};

} // namespace

void SetSymmetricMechanism(CK_MECHANISM_TYPE type, SymmetricParameters& storage)
{
    CK_MECHANISM& mechanism = libC_GTest_P11::m_mechanism;
    std::copy(std::begin(GCM_IV), std::end(GCM_IV), storage.iv);
    std::copy(std::begin(GCM_AAD), std::end(GCM_AAD), storage.aad);
    switch (type) {
    case CKM_AES_CBC:
    case CKM_AES_CBC_PAD:
    case CKM_CAMELLIA_CBC:
    case CKM_CAMELLIA_CBC_PAD:
    case CKM_DES3_CBC:
        mechanism = {type, libC_GTest_P11::m_iv16, sizeof(libC_GTest_P11::m_iv16)};
        break;
    case CKM_AES_CTR:
        storage.ctr.ulCounterBits = 128;
        std::copy(std::begin(COUNTER_BLOCK), std::end(COUNTER_BLOCK), storage.ctr.cb);
        mechanism = {type, &storage.ctr, sizeof(storage.ctr)};
        break;
    case CKM_AES_GCM:
        storage.gcm = {storage.iv, sizeof(storage.iv), storage.aad, sizeof(storage.aad), 64};
        mechanism = {type, &storage.gcm, sizeof(storage.gcm)};
        break;
    case CKM_AES_GMAC:
        storage.gcm = {storage.iv, sizeof(storage.iv), NULL_PTR, 0, 0};
        mechanism = {type, &storage.gcm, sizeof(storage.gcm)};
        break;
    default:
        mechanism = {type, NULL_PTR, 0};
        break;
    }
}

CK_ULONG ZeroPaddedLength(CK_ULONG length, CK_ULONG unit)
{
    return (length + unit) / unit * unit;
}

CK_BYTE_PTR NewZeroPaddedCopy(const CK_BYTE* data, CK_ULONG length, CK_ULONG unit)
{
    CK_BYTE_PTR padded = new CK_BYTE[ZeroPaddedLength(length, unit)]();
    std::copy(data, data + length, padded);
    return padded;
}

CK_ULONG CutDownToUnit(CK_ULONG length, CK_ULONG unit)
{
    return unit * (length / unit);
}
