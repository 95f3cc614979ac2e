// A generated case is data: a list of steps, each one PKCS#11 call with its arguments
// described by value. The generator makes it, the printer describes it and the executor
// turns it into C structures and calls; none of them needs the others' details.
#ifndef ZORVEL_TESTS_TOKEN_ROBUSTNESS_CASE_MODEL_H
#define ZORVEL_TESTS_TOKEN_ROBUSTNESS_CASE_MODEL_H

#include "pkcs11.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zorvel::robustness {

using Bytes = std::vector<CK_BYTE>;

// An index into the key catalogue (key_catalogue.h).
using KeyIndex = std::size_t;

// Bytes known only when the case runs: an attribute of a key of the prepared set (an EC
// point, a modulus), optionally behind leading zero bytes.
struct KeyValue {
  KeyIndex key = 0;
  CK_ATTRIBUTE_TYPE attribute = 0;
  std::size_t leadingZeros = 0;
};

// A field of a parameter record, laid out as the C structure has it: CK_ULONG and
// pointers take 8 bytes, inline byte arrays their length rounded up to 8.
struct Field {
  enum class Kind { Ulong, Pointer, InlineBytes };
  std::string name;
  Kind kind = Kind::Ulong;
  CK_ULONG value = 0;            // Ulong
  bool null = false;             // Pointer: a null pointer
  Bytes bytes;                   // Pointer: what it points to; InlineBytes: the bytes
  std::optional<KeyValue> from;  // Pointer, InlineBytes: a key's value instead of bytes; Ulong: its length
};

// CK_MECHANISM's parameter.
struct Parameter {
  enum class Kind { None, NullWithLength, Record };
  Kind kind = Kind::None;         // None: NULL and 0
  std::string recordName;         // Record: "CK_GCM_PARAMS", "IV", ...
  std::vector<Field> fields;      // Record
  std::optional<CK_ULONG> declaredLength;  // ulParameterLen when not the record's size
};

struct MechanismSpec {
  CK_MECHANISM_TYPE type = 0;
  Parameter parameter;
};

struct AttributeSpec;

// The value of an attribute in a template.
struct AttributeValue {
  enum class Kind { Bytes, Null, Nested, Enclosing, FromKey };
  Kind kind = Kind::Bytes;
  Bytes bytes;                         // Bytes
  CK_ULONG length = 0;                 // Null: ulValueLen
  std::vector<AttributeSpec> nested;   // Nested: a template as the value
  unsigned levelsUp = 0;               // Enclosing: a template that holds this attribute (0: its own)
  KeyValue from;                       // FromKey
};

struct AttributeSpec {
  CK_ATTRIBUTE_TYPE type = 0;
  AttributeValue value;
};

// A template argument: pTemplate and ulCount.
struct Template {
  std::vector<AttributeSpec> attributes;
  bool null = false;          // pTemplate NULL with ulCount nullCount
  CK_ULONG nullCount = 0;
};

// An object handle argument.
struct ObjectRef {
  enum class Kind { Key, Made, Handle };
  Kind kind = Kind::Handle;
  KeyIndex key = 0;            // Key: a key of the prepared set
  std::size_t made = 0;        // Made: the n-th object an earlier step of the case made
  CK_OBJECT_HANDLE handle = CK_INVALID_HANDLE;  // Handle: this value
};

// An input buffer: data, a signature, a wrapped key.
struct Input {
  enum class Kind { Literal, Null, PreviousOutput };
  Kind kind = Kind::Literal;
  Bytes bytes;          // Literal
  CK_ULONG length = 0;  // Null: the length passed with the null pointer
};

// An output buffer and its length argument.
struct Output {
  enum class Kind { Query, Buffer, NoLength };
  Kind kind = Kind::Buffer;  // Query: NULL buffer; NoLength: NULL length pointer
  CK_ULONG length = 0;       // Query: *pulLen on entry; Buffer: its size
};

enum class Call {
  CreateObject, CopyObject, SetAttributeValue, GetAttributeValue,
  FindObjectsInit, FindObjects, FindObjectsFinal,
  GenerateKey, GenerateKeyPair, WrapKey, UnwrapKey, DeriveKey,
  EncryptInit, Encrypt, EncryptUpdate, EncryptFinal,
  DecryptInit, Decrypt, DecryptUpdate, DecryptFinal,
  DigestInit, Digest, DigestUpdate, DigestFinal,
  SignInit, Sign, SignUpdate, SignFinal,
  VerifyInit, Verify, VerifyUpdate, VerifyFinal,
  CloseSession,
};

// One call. Which members it uses depends on the call (case_printer.cpp and
// case_executor.cpp read the same ones).
struct Step {
  Call call = Call::CloseSession;
  MechanismSpec mechanism;   // Inits, GenerateKey(Pair), WrapKey, UnwrapKey, DeriveKey
  ObjectRef object;          // the Init's key, the object read or changed, the (un)wrapping or base key
  ObjectRef wrapped;         // WrapKey: the key wrapped
  Template first;            // the template; GenerateKeyPair: the public key's
  Template second;           // GenerateKeyPair: the private key's
  Input input;               // data; UnwrapKey: the wrapped key
  Input signature;           // Verify, VerifyFinal
  Output output;             // the output; FindObjects: room for ulMaxObjectCount handles
};

struct Case {
  std::uint64_t seed = 0;
  std::uint64_t index = 0;
  std::string kind;  // what the generator meant to exercise
  std::vector<Step> steps;
};

}  // namespace zorvel::robustness

#endif
