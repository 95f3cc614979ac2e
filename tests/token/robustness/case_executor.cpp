#include "case_executor.h"

#include <algorithm>

namespace zorvel::robustness {

CaseExecutor::CaseExecutor(const Target &target, const KeySet &keys)
    : target_(target), keys_(keys), session_(target.session) {}

void CaseExecutor::run(const Case &c, const std::function<void(std::size_t, CK_RV)> &report) {
  for (std::size_t i = 0; i < c.steps.size(); ++i) {
    CallArena arena([this](const KeyValue &from) { return keys_.value(from); });
    report(i, execute(c.steps[i], arena));
  }
}

CK_OBJECT_HANDLE CaseExecutor::handle(const ObjectRef &ref) const {
  switch (ref.kind) {
    case ObjectRef::Kind::Key: return keys_.handle(ref.key);
    case ObjectRef::Kind::Made: return ref.made < made_.size() ? made_[ref.made] : CK_INVALID_HANDLE;
    case ObjectRef::Kind::Handle: return ref.handle;
  }
  return CK_INVALID_HANDLE;
}

CK_BYTE_PTR CaseExecutor::input(const Input &spec, CallArena &arena, CK_ULONG *length) {
  switch (spec.kind) {
    case Input::Kind::Literal: *length = spec.bytes.size(); return arena.bytes(spec.bytes);
    case Input::Kind::Null: *length = spec.length; return nullptr;
    case Input::Kind::PreviousOutput: {
      // The latest operation before the running one that returned anything.
      Bytes previous;
      for (std::size_t i = outputs_.size() > 0 ? outputs_.size() - 1 : 0; i > 0; --i) {
        if (!outputs_[i - 1].empty()) {
          previous = outputs_[i - 1];
          break;
        }
      }
      *length = previous.size();
      return arena.bytes(previous);
    }
  }
  return nullptr;
}

CaseExecutor::OutputBuffer CaseExecutor::output(const Output &spec, CallArena &arena) {
  OutputBuffer out;
  switch (spec.kind) {
    case Output::Kind::Query: out.length = spec.length; break;
    case Output::Kind::Buffer:
      out.size = out.length = spec.length;
      out.buffer = arena.bytes({}, spec.length);
      break;
    case Output::Kind::NoLength:
      out.size = 1;
      out.buffer = arena.bytes({}, 1);
      out.noLength = true;
      break;
  }
  return out;
}

void CaseExecutor::keep(const Output &spec, const OutputBuffer &out, CK_RV rv) {
  if (rv != CKR_OK || spec.kind != Output::Kind::Buffer || outputs_.empty()) return;
  const CK_ULONG length = std::min(out.length, out.size);
  outputs_.back().insert(outputs_.back().end(), out.buffer, out.buffer + length);
}

void CaseExecutor::made(CK_RV rv, CK_OBJECT_HANDLE object) {
  if (rv == CKR_OK) made_.push_back(object);
}

void CaseExecutor::startOperation() { outputs_.emplace_back(); }

CK_RV CaseExecutor::execute(const Step &step, CallArena &arena) {
  switch (step.call) {
    case Call::CloseSession: return target_.f->C_CloseSession(session_);
    case Call::CreateObject:
    case Call::CopyObject:
    case Call::SetAttributeValue:
    case Call::GetAttributeValue:
    case Call::FindObjectsInit:
    case Call::FindObjects:
    case Call::FindObjectsFinal:
    case Call::GenerateKey:
    case Call::GenerateKeyPair:
    case Call::WrapKey:
    case Call::UnwrapKey:
    case Call::DeriveKey: return objectCall(step, arena);
    default: return operationCall(step, arena);
  }
}

CK_RV CaseExecutor::objectCall(const Step &step, CallArena &arena) {
  CK_FUNCTION_LIST_PTR f = target_.f;
  CK_ULONG count = 0;
  CK_ATTRIBUTE_PTR attributes = arena.attributes(step.first, &count);
  CK_MECHANISM mechanism = arena.mechanism(step.mechanism);
  CK_OBJECT_HANDLE object = CK_INVALID_HANDLE;
  CK_RV rv = CKR_OK;
  switch (step.call) {
    case Call::CreateObject:
      rv = f->C_CreateObject(session_, attributes, count, &object);
      made(rv, object);
      return rv;
    case Call::CopyObject:
      rv = f->C_CopyObject(session_, handle(step.object), attributes, count, &object);
      made(rv, object);
      return rv;
    case Call::SetAttributeValue: return f->C_SetAttributeValue(session_, handle(step.object), attributes, count);
    case Call::GetAttributeValue: return f->C_GetAttributeValue(session_, handle(step.object), attributes, count);
    case Call::FindObjectsInit: return f->C_FindObjectsInit(session_, attributes, count);
    case Call::FindObjects: {
      std::vector<CK_OBJECT_HANDLE> found(std::max<CK_ULONG>(step.output.length, 1));
      CK_ULONG foundCount = 0;
      return f->C_FindObjects(session_, found.data(), step.output.length,
                              step.output.kind == Output::Kind::NoLength ? nullptr : &foundCount);
    }
    case Call::FindObjectsFinal: return f->C_FindObjectsFinal(session_);
    case Call::GenerateKey:
      rv = f->C_GenerateKey(session_, &mechanism, attributes, count, &object);
      made(rv, object);
      return rv;
    case Call::GenerateKeyPair: {
      CK_ULONG privateCount = 0;
      CK_ATTRIBUTE_PTR privateAttributes = arena.attributes(step.second, &privateCount);
      CK_OBJECT_HANDLE privateKey = CK_INVALID_HANDLE;
      rv = f->C_GenerateKeyPair(session_, &mechanism, attributes, count, privateAttributes, privateCount, &object,
                                &privateKey);
      made(rv, object);
      made(rv, privateKey);
      return rv;
    }
    case Call::WrapKey: {
      startOperation();
      OutputBuffer out = output(step.output, arena);
      rv = f->C_WrapKey(session_, &mechanism, handle(step.object), handle(step.wrapped), out.buffer,
                        out.lengthPointer());
      keep(step.output, out, rv);
      return rv;
    }
    case Call::UnwrapKey: {
      startOperation();
      CK_ULONG wrappedLength = 0;
      CK_BYTE_PTR wrapped = input(step.input, arena, &wrappedLength);
      rv = f->C_UnwrapKey(session_, &mechanism, handle(step.object), wrapped, wrappedLength, attributes, count,
                          &object);
      made(rv, object);
      return rv;
    }
    case Call::DeriveKey:
      rv = f->C_DeriveKey(session_, &mechanism, handle(step.object), attributes, count, &object);
      made(rv, object);
      return rv;
    default: return CKR_GENERAL_ERROR;
  }
}

CK_RV CaseExecutor::operationCall(const Step &step, CallArena &arena) {
  CK_FUNCTION_LIST_PTR f = target_.f;
  CK_ULONG dataLength = 0, signatureLength = 0;
  CK_BYTE_PTR data = input(step.input, arena, &dataLength);
  CK_BYTE_PTR signature = input(step.signature, arena, &signatureLength);
  OutputBuffer out = output(step.output, arena);
  CK_MECHANISM mechanism = arena.mechanism(step.mechanism);
  const CK_OBJECT_HANDLE key = handle(step.object);
  CK_RV rv = CKR_OK;
  switch (step.call) {
    case Call::EncryptInit: startOperation(); return f->C_EncryptInit(session_, &mechanism, key);
    case Call::DecryptInit: startOperation(); return f->C_DecryptInit(session_, &mechanism, key);
    case Call::DigestInit: startOperation(); return f->C_DigestInit(session_, &mechanism);
    case Call::SignInit: startOperation(); return f->C_SignInit(session_, &mechanism, key);
    case Call::VerifyInit: startOperation(); return f->C_VerifyInit(session_, &mechanism, key);
    case Call::Encrypt: rv = f->C_Encrypt(session_, data, dataLength, out.buffer, out.lengthPointer()); break;
    case Call::EncryptUpdate:
      rv = f->C_EncryptUpdate(session_, data, dataLength, out.buffer, out.lengthPointer());
      break;
    case Call::EncryptFinal: rv = f->C_EncryptFinal(session_, out.buffer, out.lengthPointer()); break;
    case Call::Decrypt: rv = f->C_Decrypt(session_, data, dataLength, out.buffer, out.lengthPointer()); break;
    case Call::DecryptUpdate:
      rv = f->C_DecryptUpdate(session_, data, dataLength, out.buffer, out.lengthPointer());
      break;
    case Call::DecryptFinal: rv = f->C_DecryptFinal(session_, out.buffer, out.lengthPointer()); break;
    case Call::Digest: rv = f->C_Digest(session_, data, dataLength, out.buffer, out.lengthPointer()); break;
    case Call::DigestUpdate: return f->C_DigestUpdate(session_, data, dataLength);
    case Call::DigestFinal: rv = f->C_DigestFinal(session_, out.buffer, out.lengthPointer()); break;
    case Call::Sign: rv = f->C_Sign(session_, data, dataLength, out.buffer, out.lengthPointer()); break;
    case Call::SignUpdate: return f->C_SignUpdate(session_, data, dataLength);
    case Call::SignFinal: rv = f->C_SignFinal(session_, out.buffer, out.lengthPointer()); break;
    case Call::Verify: return f->C_Verify(session_, data, dataLength, signature, signatureLength);
    case Call::VerifyUpdate: return f->C_VerifyUpdate(session_, data, dataLength);
    case Call::VerifyFinal: return f->C_VerifyFinal(session_, signature, signatureLength);
    default: return CKR_GENERAL_ERROR;
  }
  keep(step.output, out, rv);
  return rv;
}

}  // namespace zorvel::robustness
