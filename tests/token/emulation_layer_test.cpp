// The emulation layer over the fake module (fake_module.cpp), with the tests' core and
// its test-only emulation (test_emulation.cpp): which calls are emulated, one operation
// per session, the length-query rule, and how operations end.
#include "fake_mechanism.h"
#include "standin_test_support.h"

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace zorvel::test {
namespace {

using Bytes = std::vector<CK_BYTE>;

constexpr CK_OBJECT_HANDLE kKey = 0x35;
const Bytes kData = {'l', 'a', 'y', 'e', 'r', ' ', 'd', 'a', 't', 'a'};

Bytes toBytes(const FakeSignature &signature) { return Bytes(signature.begin(), signature.end()); }

// A signature mechanism and key, and the signature they give over some data.
struct SignatureKind {
  const char *what;
  CK_MECHANISM_TYPE mechanism;
  CK_OBJECT_HANDLE key;

  Bytes expected(const Bytes &data) const {
    return toBytes(fakeSignature(mechanism == kTestMacMechanism ? inverted(data) : data, key));
  }
};

const SignatureKind kForwarded = {"forwarded", kFakeMechanism, kKey};
const SignatureKind kEmulated = {"emulated over the module", kTestMacMechanism, kKey};
const SignatureKind kInSoftware = {"emulated in software", kTestMacMechanism, kTestMacSoftwareKey};
const SignatureKind kAllKinds[] = {kForwarded, kEmulated, kInSoftware};

class EmulationLayer : public InitializedLibrary {
 protected:
  using InitMember = CK_RV (*CK_FUNCTION_LIST::*)(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE);

  void SetUp() override {
    InitializedLibrary::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_CKR(CKR_OK, f->C_OpenSession(0, CKF_SERIAL_SESSION, nullptr, nullptr, &session));
  }

  CK_RV init(InitMember member, CK_MECHANISM_TYPE type) {
    CK_MECHANISM mechanism = {type, nullptr, 0};
    return (f->*member)(session, &mechanism, kKey);
  }
  CK_RV signInit(const SignatureKind &kind) {
    CK_MECHANISM mechanism = {kind.mechanism, nullptr, 0};
    return f->C_SignInit(session, &mechanism, kind.key);
  }

  // C_Sign into a buffer of `room` bytes; the signature, or empty on failure.
  Bytes sign(const Bytes &data, CK_ULONG room, CK_RV *rv) {
    Bytes in = data;
    Bytes signature(room);
    CK_ULONG length = room;
    *rv = f->C_Sign(session, in.data(), in.size(), signature.data(), &length);
    signature.resize(*rv == CKR_OK ? length : 0);
    return signature;
  }
  Bytes sign(const Bytes &data) {
    CK_RV rv = CKR_OK;
    Bytes signature = sign(data, 64, &rv);
    EXPECT_CKR(CKR_OK, rv);
    return signature;
  }

  CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
};

TEST_F(EmulationLayer, ClaimedCallsAreEmulatedAndTheOthersForwarded) {
  for (const SignatureKind &kind : kAllKinds) {
    SCOPED_TRACE(kind.what);
    ASSERT_CKR(CKR_OK, signInit(kind));
    EXPECT_EQ(kind.expected(kData), sign(kData));

    // Multi-part.
    const Bytes first(kData.begin(), kData.begin() + 4), rest(kData.begin() + 4, kData.end());
    ASSERT_CKR(CKR_OK, signInit(kind));
    for (Bytes part : {first, rest}) ASSERT_CKR(CKR_OK, f->C_SignUpdate(session, part.data(), part.size()));
    Bytes signature(4);
    CK_ULONG length = signature.size();
    ASSERT_CKR(CKR_OK, f->C_SignFinal(session, signature.data(), &length));
    EXPECT_EQ(kind.expected(kData), signature);
  }

  // The families no emulation claims here reach the module.
  Bytes plain = kData, cipher(kData.size());
  CK_ULONG length = cipher.size();
  ASSERT_CKR(CKR_OK, init(&CK_FUNCTION_LIST::C_EncryptInit, kFakeMechanism));
  ASSERT_CKR(CKR_OK, f->C_Encrypt(session, plain.data(), plain.size(), cipher.data(), &length));
  EXPECT_EQ(fakeCipherByte(kData[0], kKey), cipher[0]);
  Bytes signature = kForwarded.expected(kData);
  ASSERT_CKR(CKR_OK, init(&CK_FUNCTION_LIST::C_VerifyInit, kFakeMechanism));
  EXPECT_CKR(CKR_OK, f->C_Verify(session, plain.data(), plain.size(), signature.data(), signature.size()));
  EXPECT_CKR(CKR_MECHANISM_INVALID, init(&CK_FUNCTION_LIST::C_SignInit, CKM_SHA256_HMAC));
  CK_MECHANISM digest = {CKM_SHA256, nullptr, 0};
  EXPECT_CKR(CKR_FUNCTION_NOT_SUPPORTED, f->C_DigestInit(session, &digest));
}

// Emulated in software, the module knows of no operation: the layer refuses alone.
TEST_F(EmulationLayer, OneOperationPerSessionWhateverItsFamily) {
  for (const SignatureKind &kind : kAllKinds) {
    SCOPED_TRACE(std::string(kind.what) + " signature active");
    ASSERT_CKR(CKR_OK, signInit(kind));
    for (const SignatureKind &second : kAllKinds) EXPECT_CKR(CKR_OPERATION_ACTIVE, signInit(second)) << second.what;
    EXPECT_CKR(CKR_OPERATION_ACTIVE, init(&CK_FUNCTION_LIST::C_EncryptInit, kFakeMechanism));
    EXPECT_CKR(CKR_OPERATION_ACTIVE, init(&CK_FUNCTION_LIST::C_VerifyInit, kFakeMechanism));
    // A call of another family meets no operation and leaves the active one alone.
    Bytes in = kData, out(kData.size());
    CK_ULONG length = out.size();
    EXPECT_CKR(CKR_OPERATION_NOT_INITIALIZED, f->C_Encrypt(session, in.data(), in.size(), out.data(), &length));
    EXPECT_CKR(CKR_OPERATION_NOT_INITIALIZED, f->C_VerifyFinal(session, out.data(), 4));

    // Another session runs an operation of its own meanwhile.
    CK_SESSION_HANDLE other = CK_INVALID_HANDLE;
    ASSERT_CKR(CKR_OK, f->C_OpenSession(0, CKF_SERIAL_SESSION, nullptr, nullptr, &other));
    CK_MECHANISM mechanism = {kTestMacMechanism, nullptr, 0};
    ASSERT_CKR(CKR_OK, f->C_SignInit(other, &mechanism, kKey));
    Bytes signature(4);
    length = signature.size();
    ASSERT_CKR(CKR_OK, f->C_Sign(other, in.data(), in.size(), signature.data(), &length));
    EXPECT_EQ(kEmulated.expected(kData), signature);
    EXPECT_CKR(CKR_OK, f->C_CloseSession(other));

    EXPECT_EQ(kind.expected(kData), sign(kData));
  }
}

// A length query and a buffer too small keep the operation; so do refused arguments.
TEST_F(EmulationLayer, LengthQueryAndTooSmallBufferKeepTheOperation) {
  for (const SignatureKind &kind : kAllKinds) {
    SCOPED_TRACE(kind.what);
    for (bool multiPart : {false, true}) {
      SCOPED_TRACE(multiPart ? "C_SignFinal" : "C_Sign");
      Bytes data = kData;
      const auto complete = [&](CK_BYTE_PTR signature, CK_ULONG_PTR length) {
        return multiPart ? f->C_SignFinal(session, signature, length)
                         : f->C_Sign(session, data.data(), data.size(), signature, length);
      };
      ASSERT_CKR(CKR_OK, signInit(kind));
      if (multiPart) {
        ASSERT_CKR(CKR_OK, f->C_SignUpdate(session, data.data(), data.size()));
      }
      CK_ULONG length = 0;
      ASSERT_CKR(CKR_OK, complete(nullptr, &length));
      EXPECT_EQ(4u, length);
      Bytes signature(4);
      length = 3;
      ASSERT_CKR(CKR_BUFFER_TOO_SMALL, complete(signature.data(), &length));
      EXPECT_EQ(4u, length);
      ASSERT_CKR(CKR_ARGUMENTS_BAD, complete(signature.data(), nullptr));
      ASSERT_CKR(CKR_OK, complete(signature.data(), &length));
      EXPECT_EQ(kind.expected(kData), signature);
      EXPECT_CKR(CKR_OPERATION_NOT_INITIALIZED, complete(signature.data(), &length));
    }
  }
}

// The test emulation refuses data holding kTestMacFailingByte with its module operation
// still active; the layer ends both.
TEST_F(EmulationLayer, AnErrorEndsTheOperationAndWhatItKeptInTheModule) {
  Bytes failing = kData;
  failing[3] = kTestMacFailingByte;
  for (bool multiPart : {false, true}) {
    SCOPED_TRACE(multiPart ? "C_SignUpdate" : "C_Sign");
    ASSERT_CKR(CKR_OK, signInit(kEmulated));
    CK_RV rv = CKR_OK;
    if (multiPart) {
      rv = f->C_SignUpdate(session, failing.data(), failing.size());
    } else {
      sign(failing, 4, &rv);
    }
    EXPECT_CKR(CKR_DATA_INVALID, rv);
    sign(kData, 4, &rv);
    EXPECT_CKR(CKR_OPERATION_NOT_INITIALIZED, rv);
    // The module's operation is gone too: its own signature starts.
    ASSERT_CKR(CKR_OK, signInit(kForwarded));
    EXPECT_EQ(kForwarded.expected(kData), sign(kData));
  }
}

TEST_F(EmulationLayer, ClosingTheSessionOrFinalisingEndsTheOperation) {
  for (SessionEnd end : kSessionEnds) {
    SCOPED_TRACE(sessionEndName(end));
    const CK_SESSION_HANDLE closed = session;
    ASSERT_CKR(CKR_OK, signInit(kInSoftware));
    ASSERT_CKR(CKR_OK, endSession(f, end, session));
    // Kept by the layer, the software operation would still answer on the closed handle.
    CK_RV rv = CKR_OK;
    sign(kData, 4, &rv);
    EXPECT_CKR(CKR_SESSION_HANDLE_INVALID, rv);
    ASSERT_CKR(CKR_OK, f->C_OpenSession(0, CKF_SERIAL_SESSION, nullptr, nullptr, &session));
    ASSERT_EQ(closed, session) << "the fake module gives the old handle again";
    sign(kData, 4, &rv);
    EXPECT_CKR(CKR_OPERATION_NOT_INITIALIZED, rv);
    ASSERT_CKR(CKR_OK, signInit(kInSoftware));
    EXPECT_EQ(kInSoftware.expected(kData), sign(kData));
  }
}

// The module may give a closed session's handle to a new session before the close
// returns (the fake module's slot 9, shown as slot 1, returns 100 ms late): the new
// session keeps its own state, and with it its emulated operations.
TEST_F(EmulationLayer, ASessionOpenedWhileAnotherClosesKeepsItsState) {
  for (const bool all : {false, true}) {
    SCOPED_TRACE(all ? "C_CloseAllSessions" : "C_CloseSession");
    CK_SESSION_HANDLE closing = CK_INVALID_HANDLE;
    ASSERT_CKR(CKR_OK, f->C_OpenSession(1, CKF_SERIAL_SESSION, nullptr, nullptr, &closing));
    std::atomic<bool> closeCalled{false};
    std::thread closer([&] {
      closeCalled = true;
      EXPECT_CKR(CKR_OK, all ? f->C_CloseAllSessions(1) : f->C_CloseSession(closing));
    });
    while (!closeCalled) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    CK_SESSION_HANDLE opened = CK_INVALID_HANDLE;
    const CK_RV rv = f->C_OpenSession(1, CKF_SERIAL_SESSION, nullptr, nullptr, &opened);
    closer.join();
    ASSERT_CKR(CKR_OK, rv);
    session = opened;
    ASSERT_CKR(CKR_OK, signInit(kInSoftware));
    EXPECT_EQ(kInSoftware.expected(kData), sign(kData));
    EXPECT_CKR(CKR_OK, f->C_CloseSession(opened));
  }
}

// The module may end its own operation through a call the layer does not follow (the fake
// module's C_SignRecover completes the signature): an emulated Init then starts, and is
// still refused while the module's operation runs.
TEST_F(EmulationLayer, AForwardedOperationTheModuleEndedElsewhereBlocksNoEmulation) {
  ASSERT_CKR(CKR_OK, signInit(kForwarded));
  Bytes data = kData, signature(4);
  CK_ULONG length = signature.size();
  ASSERT_CKR(CKR_OK, f->C_SignRecover(session, data.data(), data.size(), signature.data(), &length));
  ASSERT_CKR(CKR_OK, signInit(kInSoftware));
  EXPECT_EQ(kInSoftware.expected(kData), sign(kData));

  ASSERT_CKR(CKR_OK, signInit(kForwarded));
  EXPECT_CKR(CKR_OPERATION_ACTIVE, signInit(kInSoftware));
  EXPECT_EQ(kForwarded.expected(kData), sign(kData));
}

// Registered with ZORVEL_P11_SERIALIZE_SESSIONS=0: Inits on one session run at once, and
// only one of them starts, also when the start takes its time.
using EmulationLayerWithoutSerialisation = EmulationLayer;

TEST_F(EmulationLayerWithoutSerialisation, OnlyOneOfTwoInitsAtOnceStarts) {
  const SignatureKind slow = {"emulated in software, slow to start", kTestMacMechanism, kTestMacSlowSoftwareKey};
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    CK_RV answers[2] = {};
    std::thread second([&] { answers[1] = signInit(slow); });
    answers[0] = signInit(slow);
    second.join();
    EXPECT_EQ(1, (answers[0] == CKR_OK) + (answers[1] == CKR_OK));
    EXPECT_EQ(1, (answers[0] == CKR_OPERATION_ACTIVE) + (answers[1] == CKR_OPERATION_ACTIVE));
    EXPECT_EQ(slow.expected(kData), sign(kData));
  }
}

// Registered with ZORVEL_P11_FAULTS=corrupt-signature and corrupt-ciphertext.
using FaultsOverTheLayer = EmulationLayer;

Bytes withBitFlipped(Bytes bytes, size_t index) {
  bytes[index] ^= 0x01;
  return bytes;
}

TEST_F(FaultsOverTheLayer, CorruptSignature) {
  for (const SignatureKind &kind : kAllKinds) {
    SCOPED_TRACE(kind.what);
    ASSERT_CKR(CKR_OK, signInit(kind));
    EXPECT_EQ(withBitFlipped(kind.expected(kData), 3), sign(kData));
    ASSERT_CKR(CKR_OK, signInit(kind));
    Bytes data = kData;
    ASSERT_CKR(CKR_OK, f->C_SignUpdate(session, data.data(), data.size()));
    Bytes signature(4);
    CK_ULONG length = signature.size();
    ASSERT_CKR(CKR_OK, f->C_SignFinal(session, signature.data(), &length));
    EXPECT_EQ(withBitFlipped(kind.expected(kData), 3), signature);
  }
}

TEST_F(FaultsOverTheLayer, CorruptCiphertext) {
  Bytes plain = kData, cipher(kData.size());
  Bytes expected(kData.size());
  for (size_t i = 0; i < kData.size(); ++i) expected[i] = fakeCipherByte(kData[i], kKey);
  CK_ULONG length = cipher.size();
  ASSERT_CKR(CKR_OK, init(&CK_FUNCTION_LIST::C_EncryptInit, kFakeMechanism));
  ASSERT_CKR(CKR_OK, f->C_Encrypt(session, plain.data(), plain.size(), cipher.data(), &length));
  EXPECT_EQ(withBitFlipped(expected, 0), cipher);
}

}  // namespace
}  // namespace zorvel::test
